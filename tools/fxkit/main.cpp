// fxkit: try the library's effects on image files from the command line.
//   fxkit list | help EFFECT | apply EFFECT INPUT OUTPUT [name=value ...] [-- EFFECT ...]
//   [options] | gallery [INPUT] [OUTDIR] | --version
// Exit status: 0 success; 1 the effect returned an error (OUTPUT not written); 2 usage errors and
// unreadable or unwritable files.
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/fxkit/Alpha.h"
#include "tools/fxkit/Card.h"
#include "tools/fxkit/Chain.h"
#include "tools/fxkit/Describe.h"
#include "tools/fxkit/Gallery.h"
#include "tools/fxkit/ImageIO.h"
#include "tools/fxkit/Interrupt.h"
#include "tools/fxkit/Progress.h"
#include "tools/fxkit/Values.h"

namespace {

using fxcli::UsageError;

// Installs a status callback for the current thread and puts the previous one back.
class CallbackGuard {
 public:
  CallbackGuard(FxStatusCallback callback, void* user) {
    HostExchangeCallback(callback, user, &previous_, &previousUser_);
  }
  ~CallbackGuard() { HostExchangeCallback(previous_, previousUser_, nullptr, nullptr); }
  CallbackGuard(const CallbackGuard&) = delete;
  CallbackGuard& operator=(const CallbackGuard&) = delete;

 private:
  FxStatusCallback previous_ = nullptr;
  void* previousUser_ = nullptr;
};

// The generator seed and clocks of a command that names none (those of the gallery too).
constexpr int64_t kDefaultSeed = 1;
constexpr int64_t kDefaultTick = 1000000;
constexpr int64_t kDefaultTime = 1700000000;

int64_t ParseOption(const std::string& option, const std::string& text, int64_t min, int64_t max) {
  int64_t v = 0;
  if (!fxcli::ParseInt64(text, v) || v < min || v > max)
    throw UsageError(option + "=" + text + ": expected an integer in " + std::to_string(min) +
                     " .. " + std::to_string(max));
  return v;
}

// --region=WxH+X+Y (offsets may be negative: +-3 or -3).
RECT ParseRegion(const std::string& text) {
  const std::string what = "--region=" + text;
  // An offset's sign follows its '+' separator ("+-3") or replaces it ("-3").
  const auto offset = [](std::string part, int64_t& value) {
    if (part.rfind("+-", 0) == 0) part.erase(0, 1);
    return fxcli::ParseInt64(part, value);
  };
  const size_t x = text.find('x');
  const size_t sign = text.find_first_of("+-", x == std::string::npos ? 0 : x);
  const size_t sign2 = sign == std::string::npos ? sign : text.find_first_of("+-", sign + 2);
  int64_t w = 0, h = 0, left = 0, top = 0;
  if (x == std::string::npos || sign == std::string::npos || sign2 == std::string::npos ||
      !fxcli::ParseInt64(text.substr(0, x), w) ||
      !fxcli::ParseInt64(text.substr(x + 1, sign - x - 1), h) ||
      !offset(text.substr(sign, sign2 - sign), left) || !offset(text.substr(sign2), top) ||
      w < 1 || h < 1 ||
      left < -fxcli::kMaxImageSide || top < -fxcli::kMaxImageSide || left > fxcli::kMaxImageSide ||
      top > fxcli::kMaxImageSide || w > fxcli::kMaxImageSide || h > fxcli::kMaxImageSide)
    throw UsageError(what + ": expected WxH+X+Y");
  return RECT{int32_t(left), int32_t(top), int32_t(left + w), int32_t(top + h)};
}

struct ApplyRequest {
  std::string effect, input, output;
  std::vector<std::string> words;
  std::string region, regionMask, srand, tick, time, orientation, threads;
  std::string format, quality, background;
  bool quiet = false;
  std::string interruptAt;      // tests: [loading:|saving:]N raises SIGINT at N% of the phase
  int32_t progressDelay = 500;  // ms before the progress bar appears
};

// --interrupt-at=[PHASE:]N, the phase "applying" by default.
void ArmInterrupt(fxcli::ProgressBar& progress, const std::string& text) {
  if (text.empty()) return;
  const size_t colon = text.find(':');
  const std::string phase = colon == std::string::npos ? "applying" : text.substr(0, colon);
  progress.InterruptAt(phase,
                       int32_t(ParseOption("--interrupt-at", text.substr(colon + 1), 0, 100)));
}

int Apply(const ApplyRequest& r) {
  // Every step's effect and values are checked first, then the output's format and encoding.
  fxcli::Chain chain(r.effect, r.words);
  // The output's format and encoding are checked before any work.
  const fxcli::FileFormat format =
      r.format.empty() ? fxcli::FormatForPath(r.output) : fxcli::FormatForName(r.format);
  fxcli::EncodeOptions encode;
  if (!r.quality.empty()) {
    if (format != fxcli::FileFormat::Jpeg)
      throw UsageError("--quality=" + r.quality + ": only JPEG output has a quality");
    encode.quality = int32_t(ParseOption("--quality", r.quality, 1, 100));
  }
  if (!r.background.empty()) {
    char message[256];
    if (FxParseColor(r.background.c_str(), &encode.background, message, sizeof message) != SUCCESS)
      throw UsageError("--background=" + std::string(message));
  }
  if (!r.region.empty() && !r.regionMask.empty())
    throw UsageError("give --region or --region-mask, not both");

  // Everything that can be checked without the input is checked first.
  const bool hasRegion = !r.region.empty();
  const RECT rect = hasRegion ? ParseRegion(r.region) : RECT{};
  const int64_t orientation =
      r.orientation.empty() ? 0 : ParseOption("--orientation", r.orientation, 1, 8);
  // Without options the generator and both clocks take fixed values, so a command always gives
  // the same pixels; "now" lets a clock run.
  const int64_t seed =
      r.srand.empty() ? kDefaultSeed : ParseOption("--srand", r.srand, INT32_MIN, UINT32_MAX);
  const bool tickRuns = r.tick == "now", timeRuns = r.time == "now";
  const int64_t tick =
      r.tick.empty() || tickRuns ? kDefaultTick : ParseOption("--tick", r.tick, 0, UINT32_MAX);
  const int64_t time = r.time.empty() || timeRuns
                           ? kDefaultTime
                           : ParseOption("--time", r.time, INT64_MIN, INT64_MAX);
  // The effect's rows run on this many threads (the pixels do not depend on it).
  if (!r.threads.empty()) HostSetThreadCount(int32_t(ParseOption("--threads", r.threads, 1, 256)));

  fxcli::InterruptGuard interrupt;
  fxcli::ProgressBar progress(!r.quiet && isatty(STDERR_FILENO),
                              std::chrono::milliseconds(r.progressDelay));
  ArmInterrupt(progress, r.interruptAt);
  progress.Phase("loading");
  // Photos are turned upright as their Exif orientation (or --orientation) says; regions and
  // masks are given in the upright picture's coordinates.
  fxcli::ImagePtr image = fxcli::LoadImage(r.input, {progress.Io(), int32_t(orientation)});
  BitmapRecord* bitmap = image->get();
  if (hasRegion && HostSetRegionRect(bitmap, nullptr, &rect, 1) != SUCCESS)
    throw UsageError("--region=" + r.region + ": outside the image");
  if (!r.regionMask.empty()) {
    fxcli::ImagePtr mask = fxcli::LoadImage(r.regionMask, {progress.Io()});
    if (mask->get()->Width != bitmap->Width || mask->get()->Height != bitmap->Height)
      throw UsageError(r.regionMask + ": mask is " + std::to_string(mask->get()->Width) + "x" +
                       std::to_string(mask->get()->Height) + ", the image " +
                       std::to_string(bitmap->Width) + "x" + std::to_string(bitmap->Height));
    const std::vector<uint8_t> inside = fxcli::NonZeroMask(*mask->get());
    if (HostSetRegionMask(bitmap, inside.data(), bitmap->Width) != SUCCESS)
      throw UsageError(r.regionMask + ": the mask has no non-zero pixel");
  }
  // Each run (colour, then alpha) starts from the same generator state and clocks; "now" is read
  // once, so both runs see the same moment.
  HostReleaseClocks();
  const uint32_t tickValue = tickRuns ? HostGetTickCount() : uint32_t(tick);
  const int64_t timeValue = timeRuns ? HostGetTime() : time;
  const fxcli::RunSetup setup = [&] {
    HostSeedRandom(uint32_t(seed));
    HostFixTickCount(tickValue);
    HostFixTime(timeValue);
  };

  progress.Phase("applying");
  int32_t rc;
  {
    CallbackGuard callback(&fxcli::ProgressBar::HostCallback, &progress);
    rc = chain.Run(bitmap, setup);
  }
  // A stop by Ctrl-C may come back as the effect's own code (some answer ERROR_NO_MEMORY).
  if (fxcli::InterruptRequested()) throw fxcli::Interrupted();
  if (rc != SUCCESS) {
    std::fprintf(stderr, "fxkit: %s: %s\n",
                 *chain.failedEffect() ? chain.failedEffect() : chain.effect(0).shortName,
                 fxcli::ResultText(rc).c_str());
    return 1;
  }
  progress.Phase("saving");
  encode.meta = &image->meta;
  encode.progress = progress.Io();
  fxcli::SaveImage(*bitmap, r.output, format, encode);
  return 0;
}

int Gallery(const fxcli::GalleryOptions& options, bool quiet) {
  const std::vector<fxcli::GalleryRun> runs = fxcli::RunGallery(options, quiet ? nullptr : stdout);
  size_t failed = 0;
  for (const fxcli::GalleryRun& r : runs) failed += r.file.empty();
  std::printf("gallery: %zu runs, %zu failed: open %s/index.html\n", runs.size(), failed,
              options.outDir.c_str());
  return failed ? 1 : 0;
}

int Run(int argc, char** argv) {
  CLI::App app{"fxkit: image special effects on PNG, JPEG, PPM and PGM files", "fxkit"};
  app.set_version_flag("--version", std::string(FxVersion()));
  app.require_subcommand(1);
  app.footer(
      "Examples:\n"
      "  fxkit list\n"
      "  fxkit help swirl\n"
      "  fxkit apply swirl @card out.png angle=9000 center=320,240\n"
      "  fxkit apply pixelate photo.jpg out.jpg mode=average shape=polar --preset=polar\n"
      "  fxkit apply photo.jpg out.jpg swirl angle=900 -- zoom-blur -- ripple --preset=pond\n"
      "  fxkit gallery @card out/gallery --only swirl,ripple");

  CLI::App* list = app.add_subcommand("list", "List the effects by family");
  bool names = false, exports = false;
  list->add_flag("--names", names, "Only the short names, one per line");
  list->add_flag("--exports", exports, "Only the export names, one per line");

  CLI::App* help = app.add_subcommand("help", "Describe an effect: parameters, defaults, ranges");
  std::string helpEffect;
  help->add_option("EFFECT", helpEffect, "Short name (swirl) or export name (Fx_SwirlBitmap)");

  CLI::App* apply = app.add_subcommand("apply", "Apply an effect to an image file");
  ApplyRequest request;
  apply->add_option("EFFECT", request.effect, "Short name or export name")->required();
  apply
      ->add_option("INPUT", request.input,
                   "PNG, JPEG, PPM or PGM file, - (standard input) or @card[:WxH]")
      ->required();
  apply
      ->add_option("OUTPUT", request.output,
                   "Output file: .png, .jpg, .ppm or .pgm, or - (standard output) with --format")
      ->required();
  apply->add_option("VALUES", request.words,
                    "Parameters as name=value (see fxkit help EFFECT); -- EFFECT [name=value ...] "
                    "chains another effect");
  std::string preset;  // rewritten into a word by PrepareApplyArguments; listed for --help
  apply->add_option("--preset", preset, "Apply a preset of the effect; name=value words override");
  apply->add_option("--region", request.region, "Process a rectangular region WxH+X+Y");
  apply->add_option("--region-mask", request.regionMask,
                    "Process the non-zero pixels of a mask image of the same size");
  apply->add_option("--srand", request.srand, "Seed of the random generator (default 1)");
  apply->add_option("--tick", request.tick,
                    "Tick count in milliseconds (default 1000000; now: the real clock)");
  apply->add_option("--time", request.time,
                    "Calendar time in seconds (default 1700000000; now: the real clock)");
  apply->add_option("--orientation", request.orientation,
                    "Treat the input as having Exif orientation 1..8 (photos are turned upright "
                    "as their own tag says otherwise)");
  apply->add_option("--threads", request.threads,
                    "Threads the effect may use (default: FXKIT_THREADS, else every core)");
  apply->add_option("--format", request.format,
                    "Output format png, jpg, ppm or pgm, whatever the extension");
  apply->add_option("--quality", request.quality, "JPEG quality 1..100 (default 92)");
  apply->add_option("--background", request.background,
                    "Colour that alpha is laid over in JPEG, PPM and PGM output (default #FFFFFF)");
  apply->add_flag("--quiet", request.quiet, "No progress bar");
  apply->add_option("--interrupt-at", request.interruptAt)->group("");      // tests: SIGINT at N%
  apply->add_option("--progress-delay", request.progressDelay)->group("");  // tests: 0

  CLI::App* gallery = app.add_subcommand("gallery", "Every effect with its defaults and presets");
  fxcli::GalleryOptions galleryOptions;
  std::string gallerySeed, galleryTick, galleryTime;
  bool galleryQuiet = false;
  gallery->add_option("INPUT", galleryOptions.input, "Input image (default @card)");
  gallery->add_option("OUTDIR", galleryOptions.outDir, "Output directory (default gallery)");
  gallery->add_option("--srand", gallerySeed, "Seed before every run (default 1)");
  gallery->add_option("--tick", galleryTick, "Tick count for every run (default 1000000)");
  gallery->add_option("--time", galleryTime, "Calendar time for every run (default 1700000000)");
  gallery->add_flag("--quiet", galleryQuiet, "Only the summary line");
  gallery->add_option("--only", galleryOptions.only, "Only these effects (swirl,ripple)");

  if (argc > 1 && argv[1][0] != '-') {
    bool known = false;
    for (const CLI::App* sub : app.get_subcommands({})) known |= sub->get_name() == argv[1];
    if (!known)
      throw UsageError(std::string("unknown command '") + argv[1] +
                       "' (commands: list, help, apply, gallery)");
  }
  fxcli::PrepareApplyArguments(argc, argv);  // chain separators and presets become words
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "fxkit: %s (see fxkit --help)\n", e.what());
    return 2;
  }

  if (list->parsed()) {
    const fxcli::ListStyle style = exports ? fxcli::ListStyle::ExportNames
                                   : names ? fxcli::ListStyle::ShortNames
                                           : fxcli::ListStyle::Families;
    std::fputs(fxcli::EffectListText(style).c_str(), stdout);
    return 0;
  }
  if (help->parsed()) {
    if (helpEffect.empty()) {
      std::fputs(app.help().c_str(), stdout);
      return 0;
    }
    std::fputs(fxcli::EffectHelpText(fxcli::FindEffectOrThrow(helpEffect)).c_str(), stdout);
    return 0;
  }
  if (apply->parsed()) {
    fxcli::NormaliseApplyOrder(request.effect, request.input, request.output);
    return Apply(request);
  }
  if (!gallerySeed.empty())
    galleryOptions.seed = uint32_t(ParseOption("--srand", gallerySeed, INT32_MIN, UINT32_MAX));
  if (!galleryTick.empty())
    galleryOptions.tick = uint32_t(ParseOption("--tick", galleryTick, 0, UINT32_MAX));
  if (!galleryTime.empty())
    galleryOptions.time = ParseOption("--time", galleryTime, INT64_MIN, INT64_MAX);
  return Gallery(galleryOptions, galleryQuiet);
}

}  // namespace

int main(int argc, char** argv) {
  int status;
  try {
    status = Run(argc, argv);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "fxkit: %s\n", e.what());
    status = 2;
  } catch (const fxcli::Interrupted&) {
    std::fprintf(stderr, "fxkit: interrupted\n");
    status = 130;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "fxkit: %s\n", e.what());
    status = 2;
  }
  // Everything the tool made has been released by now; the host must hold nothing.
  if (const int64_t live = HostLiveBlocks(); live != 0) {
    std::fprintf(stderr, "fxkit: internal error: %lld host blocks not released\n",
                 static_cast<long long>(live));
    if (status == 0) status = 3;
  }
  return status;
}
