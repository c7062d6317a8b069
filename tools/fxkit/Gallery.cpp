// The gallery runs and its HTML contact sheet.
#include "tools/fxkit/Gallery.h"

#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "tools/fxkit/Describe.h"
#include "tools/fxkit/ImageIO.h"
#include "tools/fxkit/Values.h"

namespace fxcli {

namespace {

std::string Html(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// A preset name as part of a file name: lower-case letters, digits and '-'.
std::string FileWord(const std::string& name) {
  std::string out;
  for (char c : name) {
    const char l = char(std::tolower(static_cast<unsigned char>(c)));
    out += (std::isalnum(static_cast<unsigned char>(l)) ? l : '-');
  }
  return out;
}

GalleryRun RunOne(const FxEffectDesc& effect, const FxPreset* preset, BitmapRecord* input,
                  const GalleryOptions& options) {
  GalleryRun run;
  run.effect = effect.shortName;
  run.preset = preset ? preset->name : "defaults";
  try {
    Image work;
    work.CopyFrom(input, "gallery input");
    EffectArgs args(effect);
    if (preset) args.Add(SplitWords(preset->values));
    const std::vector<FxNamedValue>& values = args.Values(work.get());
    run.params = args.Describe(work.get());
    HostSeedRandom(options.seed);
    HostFixTickCount(options.tick);
    HostFixTime(options.time);
    const auto start = std::chrono::steady_clock::now();
    run.code = FxInvoke(&effect, work.get(), values.data(), uint32_t(values.size()));
    run.milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    HostReleaseClocks();
    if (run.code != SUCCESS) return run;
    HostSetOrientation(nullptr, work.get(), BITMAP_STRUCT_SIZE, 1, 0);
    const std::string file =
        run.effect + (preset ? "--" + FileWord(preset->name) : std::string()) + ".png";
    SaveImage(*work.get(), (std::filesystem::path(options.outDir) / file).string());
    run.file = file;
  } catch (const UsageError& e) {
    HostReleaseClocks();
    run.error = e.what();
  }
  return run;
}

void WriteIndex(const GalleryOptions& options, const BitmapRecord& input,
                const std::vector<GalleryRun>& runs) {
  const std::string path = (std::filesystem::path(options.outDir) / "index.html").string();
  std::ofstream html(path);
  if (!html) throw UsageError(path + ": cannot write");
  size_t failed = 0;
  for (const GalleryRun& r : runs) failed += r.file.empty();
  html << "<!doctype html>\n<html><head><meta charset=\"utf-8\"><title>fxkit gallery</title>\n"
       << "<style>body{font-family:sans-serif;background:#222;color:#ddd;margin:1em}"
          "main{display:grid;grid-template-columns:repeat(auto-fill,minmax(330px,1fr));gap:12px}"
          "figure{margin:0;background:#333;padding:6px;border-radius:4px}"
          "img{width:100%;image-rendering:auto;display:block}"
          "figcaption{font-size:12px;margin-top:4px;word-break:break-word}"
          "code{color:#9cf}.fail{color:#f77}.ok{color:#7d7}</style></head><body>\n"
       << "<h1>fxkit gallery</h1>\n<p>" << Html(FxVersion()) << " &middot; input "
       << Html(options.input) << " (" << input.Width << "x" << input.Height << ") &middot; "
       << runs.size() << " runs, " << failed << " failed &middot; srand " << options.seed
       << ", tick " << options.tick << ", time " << options.time << "</p>\n<main>\n"
       << "<figure><a href=\"input.png\"><img src=\"input.png\" alt=\"input\"></a>"
          "<figcaption><b>input</b></figcaption></figure>\n";
  for (const GalleryRun& r : runs) {
    html << "<figure>";
    if (!r.file.empty())
      html << "<a href=\"" << Html(r.file) << "\"><img src=\"" << Html(r.file)
           << "\" loading=\"lazy\" alt=\"" << Html(r.effect) << "\"></a>";
    html << "<figcaption><b>" << Html(r.effect) << "</b> &middot; " << Html(r.preset)
         << "<br><code>" << Html(r.params) << "</code><br>";
    if (!r.error.empty()) {
      html << "<span class=\"fail\">" << Html(r.error) << "</span>";
    } else {
      char time[32];
      std::snprintf(time, sizeof(time), "%.1f ms", r.milliseconds);
      html << time << " &middot; <span class=\"" << (r.code == SUCCESS ? "ok" : "fail") << "\">"
           << Html(ResultText(r.code)) << "</span>";
    }
    html << "</figcaption></figure>\n";
  }
  html << "</main></body></html>\n";
  if (!html.flush()) throw UsageError(path + ": cannot write");
}

}  // namespace

std::vector<GalleryRun> RunGallery(const GalleryOptions& options, std::FILE* log) {
  ImagePtr input = LoadImage(options.input);
  std::error_code ec;
  std::filesystem::create_directories(options.outDir, ec);
  if (ec) throw UsageError(options.outDir + ": " + ec.message());
  SaveImage(*input->get(), (std::filesystem::path(options.outDir) / "input.png").string());

  std::vector<GalleryRun> runs;
  for (uint32_t i = 0; i < FxEffectCount(); ++i) {
    const FxEffectDesc& effect = *FxEffectAt(i);
    for (uint32_t p = 0; p <= effect.presetCount; ++p) {
      runs.push_back(RunOne(effect, p ? &effect.presets[p - 1] : nullptr, input->get(), options));
      const GalleryRun& r = runs.back();
      if (log)
        std::fprintf(log, "  %-24s %-12s %9.1f ms  %s\n", r.effect.c_str(), r.preset.c_str(),
                     r.milliseconds,
                     r.error.empty() ? ResultText(r.code).c_str() : r.error.c_str());
    }
  }
  WriteIndex(options, *input->get(), runs);
  return runs;
}

}  // namespace fxcli
