// The gallery runs, their thumbnails and the HTML contact sheet.
#include "tools/fxkit/Gallery.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "tools/fxkit/Chain.h"
#include "tools/fxkit/Describe.h"
#include "tools/fxkit/ImageIO.h"
#include "tools/fxkit/Values.h"

namespace fxcli {

namespace {

// Thumbnails are at most this wide; narrower pictures keep their size.
constexpr int32_t kThumbWidth = 320;

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

// A word as a shell takes it: quoted when it holds anything but plain characters.
std::string ShellWord(const std::string& word) {
  const bool plain = std::all_of(word.begin(), word.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || std::strchr("@%+-=.,/:_#", c);
  });
  if (plain && !word.empty()) return word;
  std::string out = "'";
  for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// A thumbnail of a picture in orientation 1: at most kThumbWidth wide, 8-bit RGB, each pixel the
// rounded average of the box of source pixels it covers.
ImagePtr Thumbnail(const BitmapRecord& picture) {
  const int32_t w = picture.StoredWidth, h = picture.StoredHeight;
  const int32_t tw = std::min(w, kThumbWidth);
  const int32_t th = std::max<int32_t>(1, static_cast<int32_t>(int64_t{h} * tw / w));
  const SampleLayout rgb{3, 8};
  ImagePtr thumb = NewImageFor(tw, th, rgb, "thumbnail");
  std::vector<uint8_t> row(size_t(w) * 3);
  std::vector<uint64_t> sums(size_t(tw) * 3);
  for (int32_t ty = 0; ty < th; ++ty) {
    const int32_t y0 = static_cast<int32_t>(int64_t{ty} * h / th);
    const int32_t y1 = std::max(y0 + 1, static_cast<int32_t>(int64_t{ty + 1} * h / th));
    std::fill(sums.begin(), sums.end(), 0);
    for (int32_t y = y0; y < y1; ++y) {
      ExportRow(picture, y, rgb, row.data());
      for (int32_t tx = 0; tx < tw; ++tx) {
        const int32_t x0 = static_cast<int32_t>(int64_t{tx} * w / tw);
        const int32_t x1 = std::max(x0 + 1, static_cast<int32_t>(int64_t{tx + 1} * w / tw));
        for (int32_t x = x0; x < x1; ++x)
          for (int c = 0; c < 3; ++c) sums[size_t(tx) * 3 + c] += row[size_t(x) * 3 + c];
      }
    }
    uint8_t* out = thumb->Row(ty);
    for (int32_t tx = 0; tx < tw; ++tx) {
      const int32_t x0 = static_cast<int32_t>(int64_t{tx} * w / tw);
      const int32_t x1 = std::max(x0 + 1, static_cast<int32_t>(int64_t{tx + 1} * w / tw));
      const uint64_t n = uint64_t(x1 - x0) * uint64_t(y1 - y0);
      for (int c = 0; c < 3; ++c)
        out[size_t(tx) * 3 + c] = static_cast<uint8_t>((sums[size_t(tx) * 3 + c] + n / 2) / n);
    }
  }
  return thumb;
}

GalleryRun RunOne(const FxEffectDesc& effect, const FxPreset* preset, BitmapRecord* input,
                  const GalleryOptions& options) {
  GalleryRun run;
  run.effect = effect.shortName;
  run.preset = preset ? preset->name : "defaults";
  run.words = preset ? preset->values : "";
  const std::string file =
      run.effect + (preset ? "--" + FileWord(preset->name) : std::string()) + ".png";
  run.command = "fxkit apply " + run.effect + " " + ShellWord(options.input) + " " + file +
                (preset ? " --preset=" + std::string(preset->name) : std::string());
  try {
    Image work;
    work.CopyFrom(input, "gallery input");
    EffectArgs args(effect);
    if (preset) args.AddPreset(preset->name);
    const std::vector<FxNamedValue>& values = args.Values(work.get());
    run.params = args.Describe(work.get());
    HostSeedRandom(options.seed);
    HostFixTickCount(options.tick);
    HostFixTime(options.time);
    const auto start = std::chrono::steady_clock::now();
    run.code = FxInvokeEx(&effect, work.get(), values.data(), uint32_t(values.size()),
                          FX_INVOKE_CHECK_RANGES, nullptr);
    run.milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    HostReleaseClocks();
    if (run.code != SUCCESS) return run;
    HostSetOrientation(nullptr, work.get(), BITMAP_STRUCT_SIZE, 1, 0);
    const std::filesystem::path dir(options.outDir);
    SaveImage(*work.get(), (dir / file).string());
    SaveImage(*Thumbnail(*work.get())->get(), (dir / "thumbs" / file).string());
    run.file = file;
    run.thumb = "thumbs/" + file;
  } catch (const UsageError& e) {
    HostReleaseClocks();
    run.error = e.what();
  }
  return run;
}

void WriteIndex(const GalleryOptions& options, const BitmapRecord& input,
                const std::vector<const FxEffectDesc*>& effects,
                const std::vector<GalleryRun>& runs) {
  const std::string path = (std::filesystem::path(options.outDir) / "index.html").string();
  std::ofstream html(path);
  if (!html) throw UsageError(path + ": cannot write");
  size_t failed = 0;
  for (const GalleryRun& r : runs) failed += r.file.empty();
  html << "<!doctype html>\n<html><head><meta charset=\"utf-8\"><title>fxkit gallery</title>\n"
       << "<style>body{font-family:sans-serif;background:#222;color:#ddd;margin:1em 2em}"
          "a{color:#9cf}section{margin:1.5em 0}h2{margin:0.2em 0}"
          ".grid{display:grid;grid-template-columns:repeat(auto-fill,minmax(330px,1fr));gap:12px}"
          "figure{margin:0;background:#333;padding:6px;border-radius:4px}"
          "img{width:100%;display:block}figcaption{font-size:12px;margin-top:4px;"
          "word-break:break-word}code{color:#9cf;user-select:all}.words{color:#aaa}"
          ".fail{color:#f77}.ok{color:#7d7}table{border-collapse:collapse;font-size:13px}"
          "td,th{padding:2px 10px;text-align:left}td.ms{text-align:right}"
          "tr:nth-child(even){background:#2a2a2a}nav a{margin-right:0.8em}</style>"
          "</head><body>\n"
       << "<h1>fxkit gallery</h1>\n<p>" << Html(FxVersion()) << " &middot; input <code>"
       << Html(options.input) << "</code> (" << input.Width << "x" << input.Height << ") &middot; "
       << runs.size() << " runs, " << failed
       << " failed &middot; every run with <code>--srand=" << options.seed
       << " --tick=" << options.tick << " --time=" << options.time
       << "</code>; click a picture for its full size, copy a caption to make it yourself.</p>\n"
       << "<nav>";
  for (const FxEffectDesc* e : effects)
    html << "<a href=\"#" << Html(e->shortName) << "\">" << Html(e->shortName) << "</a>";
  html << "<a href=\"#timings\">timings</a></nav>\n"
       << "<section><div class=\"grid\"><figure><a href=\"input.png\"><img src=\"thumbs/"
          "input.png\" alt=\"input\"></a><figcaption><b>input</b></figcaption></figure></div>"
          "</section>\n";
  for (const FxEffectDesc* e : effects) {
    html << "<section id=\"" << Html(e->shortName) << "\"><h2>" << Html(e->shortName) << "</h2><p>"
         << Html(e->summary ? e->summary : "") << " &middot; <code>fxkit help "
         << Html(e->shortName) << "</code></p><div class=\"grid\">\n";
    for (const GalleryRun& r : runs) {
      if (r.effect != e->shortName) continue;
      html << "<figure>";
      if (!r.file.empty())
        html << "<a href=\"" << Html(r.file) << "\"><img src=\"" << Html(r.thumb)
             << "\" loading=\"lazy\" alt=\"" << Html(r.effect + " " + r.preset) << "\"></a>";
      html << "<figcaption><b>" << Html(r.preset) << "</b><br><code>" << Html(r.command)
           << "</code>";
      if (!r.words.empty()) html << "<br><span class=\"words\">= " << Html(r.words) << "</span>";
      if (!r.error.empty())
        html << "<br><span class=\"fail\">" << Html(r.error) << "</span>";
      else if (r.code != SUCCESS)
        html << "<br><span class=\"fail\">" << Html(ResultText(r.code)) << "</span>";
      html << "</figcaption></figure>\n";
    }
    html << "</div></section>\n";
  }
  html << "<section id=\"timings\"><h2>Timings</h2><table><tr><th>effect</th><th>run</th>"
          "<th>ms</th><th>result</th><th>every parameter as the call saw it</th></tr>\n";
  for (const GalleryRun& r : runs) {
    char ms[32];
    std::snprintf(ms, sizeof(ms), "%.1f", r.milliseconds);
    html << "<tr><td>" << Html(r.effect) << "</td><td>" << Html(r.preset)
         << "</td><td class=\"ms\">" << (r.error.empty() ? ms : "") << "</td><td class=\""
         << (r.code == SUCCESS ? "ok" : "fail") << "\">"
         << Html(r.error.empty() ? ResultText(r.code) : "usage error") << "</td><td><code>"
         << Html(r.params) << "</code></td></tr>\n";
  }
  html << "</table></section></body></html>\n";
  if (!html.flush()) throw UsageError(path + ": cannot write");
}

}  // namespace

std::vector<const FxEffectDesc*> GalleryEffects(const std::string& only) {
  std::vector<const FxEffectDesc*> effects;
  if (only.empty()) {
    for (uint32_t i = 0; i < FxEffectCount(); ++i) effects.push_back(FxEffectAt(i));
    return effects;
  }
  size_t start = 0;
  for (;;) {
    const size_t comma = only.find(',', start);
    std::string name = only.substr(start, comma == std::string::npos ? comma : comma - start);
    name.erase(0, name.find_first_not_of(' '));
    name.erase(name.find_last_not_of(' ') + 1);
    if (!name.empty()) {
      const FxEffectDesc* e = &FindEffectOrThrow(name);
      if (std::find(effects.begin(), effects.end(), e) == effects.end()) effects.push_back(e);
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (effects.empty()) throw UsageError("--only=" + only + ": no effect named");
  return effects;
}

std::vector<GalleryRun> RunGallery(const GalleryOptions& options, std::FILE* log) {
  const std::vector<const FxEffectDesc*> effects = GalleryEffects(options.only);
  ImagePtr input = LoadImage(options.input);
  const std::filesystem::path dir(options.outDir);
  std::error_code ec;
  std::filesystem::create_directories(dir / "thumbs", ec);
  if (ec) throw UsageError(options.outDir + ": " + ec.message());
  SaveImage(*input->get(), (dir / "input.png").string());
  SaveImage(*Thumbnail(*input->get())->get(), (dir / "thumbs" / "input.png").string());

  std::vector<GalleryRun> runs;
  for (const FxEffectDesc* effect : effects) {
    for (uint32_t p = 0; p <= effect->presetCount; ++p) {
      runs.push_back(RunOne(*effect, p ? &effect->presets[p - 1] : nullptr, input->get(), options));
      const GalleryRun& r = runs.back();
      if (log)
        std::fprintf(log, "  %-24s %-20s %9.1f ms  %s\n", r.effect.c_str(), r.preset.c_str(),
                     r.milliseconds,
                     r.error.empty() ? ResultText(r.code).c_str() : r.error.c_str());
    }
  }
  WriteIndex(options, *input->get(), effects, runs);
  return runs;
}

}  // namespace fxcli
