// fxkit._core: the compiled half of the fxkit Python package. It describes the registry's
// effects as plain data (the package builds a function per effect from it) and applies an effect
// to a numpy array: the array becomes a bitmap (wrapping the result array's rows where their
// stride allows, else a copy), keyword values become named values, and FxInvokeEx (with the
// registry's range checks, as the command line calls it) runs with the interpreter released and
// the status callback installed on the calling thread.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>

#include "Convert.h"
#include "Pixels.h"
#include "Probe.h"
#include "fxkit/fxkit.h"

namespace fxpy {

namespace {

namespace py = pybind11;
using namespace pybind11::literals;

// Description ---------------------------------------------------------------------------------

py::object ScalarObject(FxKind kind, int64_t value) {
  if (kind == FX_KIND_POINT) {
    const auto u = static_cast<uint64_t>(value);
    return py::make_tuple(static_cast<int32_t>(uint32_t(u)),
                          static_cast<int32_t>(uint32_t(u >> 32)));
  }
  return py::int_(value);
}

const char* RuleName(FxDefaultRule rule) {
  switch (rule) {
    case FX_DEFAULT_VALUE:
      return "value";
    case FX_DEFAULT_CENTER:
      return "center";
    case FX_DEFAULT_WIDTH_PERCENT:
      return "width-percent";
    case FX_DEFAULT_HEIGHT_PERCENT:
      return "height-percent";
    case FX_DEFAULT_NULL:
      return "null";
    case FX_DEFAULT_IMAGE_COPY:
      return "image-copy";
    case FX_DEFAULT_TEXTURE:
      return "texture";
    case FX_DEFAULT_ARRAY:
      return "array";
    case FX_DEFAULT_COUNT:
      return "count";
    case FX_DEFAULT_IMAGE_ITSELF:
      return "image-itself";
  }
  return "unknown";
}

py::dict RecordObject(const FxRecordDesc& record) {
  py::list fields;
  for (uint32_t f = 0; f < record.fieldCount; ++f) {
    const FxFieldDesc& d = record.fields[f];
    fields.append(py::dict("name"_a = d.name, "kind"_a = FxKindName(d.kind), "offset"_a = d.offset,
                           "default"_a = ScalarObject(d.kind, d.defaultValue), "min"_a = d.minValue,
                           "max"_a = d.maxValue, "help"_a = d.help ? d.help : ""));
  }
  return py::dict("name"_a = record.name, "size"_a = record.size, "fields"_a = fields);
}

py::dict ParamObject(const FxEffectDesc& effect, const FxParamDesc& p) {
  py::object def = py::none();
  switch (p.defaultRule) {
    case FX_DEFAULT_VALUE:
      def = ScalarObject(p.kind, p.defaultValue);
      break;
    case FX_DEFAULT_WIDTH_PERCENT:
    case FX_DEFAULT_HEIGHT_PERCENT:
      def = py::int_(p.defaultValue);
      break;
    case FX_DEFAULT_ARRAY:
      if (p.kind == FX_KIND_INT_ARRAY)
        def = py::cast(std::vector<int32_t>(p.defaultArray, p.defaultArray + p.defaultArrayCount));
      else if (p.kind == FX_KIND_RECORD_ARRAY)
        def = py::int_(p.defaultArrayCount);
      break;
    default:
      break;
  }
  py::list flagFields;
  for (uint32_t i = 0; p.flagFields && i < p.flagFieldCount; ++i) {
    const FxFlagField& f = p.flagFields[i];
    py::list values;
    for (uint32_t v = 0; v < f.valueCount; ++v)
      values.append(py::dict("name"_a = f.values[v].name, "value"_a = f.values[v].value,
                             "help"_a = f.values[v].help ? f.values[v].help : ""));
    flagFields.append(py::dict("name"_a = f.name, "mask"_a = f.mask, "values"_a = values,
                               "help"_a = f.help ? f.help : ""));
  }
  const bool counts = p.defaultRule == FX_DEFAULT_COUNT && p.arrayParam >= 0 &&
                      uint32_t(p.arrayParam) < effect.paramCount;
  return py::dict(
      "name"_a = p.name, "kind"_a = FxKindName(p.kind), "default_rule"_a = RuleName(p.defaultRule),
      "default"_a = def, "min"_a = p.minValue, "max"_a = p.maxValue,
      "help"_a = p.help ? p.help : "",
      "record"_a = p.record ? py::object(RecordObject(*p.record)) : py::none(),
      "counts"_a = counts ? py::object(py::str(effect.params[p.arrayParam].name)) : py::none(),
      "fixed_count"_a = p.fixedCount, "flag_fields"_a = flagFields);
}

py::list TraitNames(uint32_t traits) {
  static const std::pair<uint32_t, const char*> kNames[] = {
      {FX_TRAIT_RANDOM, "random"},
      {FX_TRAIT_CLOCK, "clock"},
      {FX_TRAIT_RESIZES, "resizes"},
      {FX_TRAIT_WHOLE_IMAGE, "whole-image"},
      {FX_TRAIT_PROGRESS, "progress"},
      {FX_TRAIT_FAILURE_AS_NO_MEMORY, "failure-as-no-memory"},
      {FX_TRAIT_MOVES_PIXELS, "moves-pixels"},
      {FX_TRAIT_TONES_ONLY, "tones-only"}};
  py::list names;
  for (const auto& [bit, name] : kNames)
    if (traits & bit) names.append(name);
  return names;
}

py::dict EffectObject(const FxEffectDesc& e) {
  py::list params, presets;
  for (uint32_t i = 0; i < e.paramCount; ++i) params.append(ParamObject(e, e.params[i]));
  for (uint32_t i = 0; i < e.presetCount; ++i)
    presets.append(py::make_tuple(e.presets[i].name, e.presets[i].values));
  return py::dict("name"_a = e.shortName, "export"_a = e.exportName,
                  "family"_a = FxFamilyName(e.family), "summary"_a = e.summary ? e.summary : "",
                  "traits"_a = TraitNames(e.traits), "params"_a = params, "presets"_a = presets);
}

py::list Describe() {
  py::list effects;
  for (uint32_t i = 0; i < FxEffectCount(); ++i) effects.append(EffectObject(*FxEffectAt(i)));
  return effects;
}

const FxEffectDesc& FindEffect(const std::string& name) {
  if (name == ProbeEffect().shortName) return ProbeEffect();
  char message[256];
  const FxEffectDesc* effect = FxLookupEffect(name.c_str(), message, sizeof(message));
  if (!effect) throw py::value_error(message);
  return *effect;
}

// Progress and cancel ---------------------------------------------------------------------------

// The status callback of one call. With a Python callable it is called (interpreter held) each
// time the percentage changes; None or a true answer goes on, a false answer cancels, an
// exception cancels and is raised again after the call. Without one, pending signals are checked
// every 100 ms, so Ctrl-C stops a long effect.
struct CallbackState {
  py::object callable;
  int32_t lastPercent = INT32_MIN;
  bool cancelled = false;
  std::chrono::steady_clock::time_point nextSignalCheck = std::chrono::steady_clock::now();
  std::optional<py::error_already_set> error;
};

int32_t StatusCallback(int32_t percent, void* user) {
  auto& s = *static_cast<CallbackState*>(user);
  if (s.cancelled) return ERROR_HOST_CANCELLED;
  if (s.callable.is_none()) {
    const auto now = std::chrono::steady_clock::now();
    if (now < s.nextSignalCheck) return SUCCESS;
    s.nextSignalCheck = now + std::chrono::milliseconds(100);
    py::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() == 0) return SUCCESS;
    s.error.emplace();
    s.cancelled = true;
    return ERROR_HOST_CANCELLED;
  }
  if (percent == s.lastPercent) return SUCCESS;
  s.lastPercent = percent;
  py::gil_scoped_acquire gil;
  try {
    const py::object answer = s.callable(percent);
    if (answer.is_none() || py::bool_(answer)) return SUCCESS;
  } catch (py::error_already_set& e) {
    s.error.emplace(std::move(e));
  }
  s.cancelled = true;
  return ERROR_HOST_CANCELLED;
}

// Installs the callback for the calling thread and puts the previous one back.
class CallbackGuard {
 public:
  explicit CallbackGuard(CallbackState& state) {
    HostExchangeCallback(&StatusCallback, &state, &previous_, &previousUser_);
  }
  ~CallbackGuard() { HostExchangeCallback(previous_, previousUser_, nullptr, nullptr); }
  CallbackGuard(const CallbackGuard&) = delete;
  CallbackGuard& operator=(const CallbackGuard&) = delete;

 private:
  FxStatusCallback previous_ = nullptr;
  void* previousUser_ = nullptr;
};

// Calls ------------------------------------------------------------------------------------------

// region=(x, y, w, h) or a boolean H x W mask, in the array's coordinates.
void SetRegion(HostBitmap& work, py::handle region, const std::string& name) {
  const BitmapRecord& b = *work.get();
  const std::string context = name + ": region";
  int32_t rc;
  if (py::isinstance<py::array>(region)) {
    if (!py::isinstance<py::array_t<bool>>(region))
      throw py::type_error(context + ": a mask must be a boolean array");
    const py::array mask = py::array::ensure(region, py::array::c_style);
    if (mask.ndim() != 2 || mask.shape(0) != b.Height || mask.shape(1) != b.Width)
      throw py::value_error(context + ": the mask must have the image's height and width");
    rc = HostSetRegionMask(work.get(), static_cast<const uint8_t*>(mask.data()), b.Width);
    if (rc != SUCCESS) throw py::value_error(context + ": the mask selects no pixel");
    return;
  }
  if (!PySequence_Check(region.ptr()) || PyUnicode_Check(region.ptr()) || py::len(region) != 4)
    throw py::type_error(context + ": expected (x, y, width, height) or a boolean mask");
  const auto r = py::reinterpret_borrow<py::sequence>(region);
  int64_t v[4];
  for (size_t i = 0; i < 4; ++i) v[i] = IntFromPython(r[i], context, "integers");
  const int64_t limit = int64_t{1} << 30;
  if (v[2] < 1 || v[3] < 1 || std::abs(v[0]) > limit || std::abs(v[1]) > limit || v[2] > limit ||
      v[3] > limit)
    throw py::value_error(context + ": width and height must be positive");
  const RECT rect{int32_t(v[0]), int32_t(v[1]), int32_t(v[0] + v[2]), int32_t(v[1] + v[3])};
  rc = HostSetRegionRect(work.get(), nullptr, &rect, 1);
  if (rc != SUCCESS) throw py::value_error(context + ": lies outside the image");
}

bool Overlaps(const py::array& a, const py::array& b) {
  const auto* a0 = static_cast<const uint8_t*>(a.data());
  const auto* b0 = static_cast<const uint8_t*>(b.data());
  return a0 < b0 + b.nbytes() && b0 < a0 + a.nbytes();
}

py::array NewImage(int32_t width, int32_t height, const PixelLayout& layout) {
  std::vector<py::ssize_t> shape{height, width};
  if (layout.channels > 1) shape.push_back(layout.channels);
  return layout.sampleBytes == 1 ? py::array(py::dtype::of<uint8_t>(), shape)
                                 : py::array(py::dtype::of<uint16_t>(), shape);
}

// Applies the effect. Returns (code, result): the result array (`out` when given) on SUCCESS,
// None otherwise; the package raises fxkit.Error for codes other than SUCCESS.
py::tuple Apply(const std::string& effectName, py::object image, py::dict params, py::object out,
                py::object region, py::object seed, py::object progress) {
  const FxEffectDesc& effect = FindEffect(effectName);
  const std::string name = effect.shortName;
  const PixelLayout layout = ArrayLayout(image, name + ": image");
  std::optional<uint32_t> generatorSeed;
  if (!seed.is_none())
    generatorSeed = static_cast<uint32_t>(PackWord(
        FX_KIND_UINT32, IntFromPython(seed, name + ": seed", "an integer"), name + ": seed"));
  if (!progress.is_none() && !PyCallable_Check(progress.ptr()))
    throw py::type_error(name + ": progress: expected a callable or None");

  py::array source = py::array::ensure(image, py::array::c_style);
  if (!source) throw py::error_already_set();
  const auto height = int32_t(source.shape(0)), width = int32_t(source.shape(1));
  const int64_t rowBytes = layout.RowBytes(width);
  const bool resizes = effect.traits & FX_TRAIT_RESIZES;

  // The result: `out`, a new array, or (for effects that choose the size) made afterwards.
  // (A default-constructed py::array is an empty array, not a null one: hence the optional.)
  std::optional<py::array> result;
  if (!out.is_none()) {
    if (resizes)
      throw py::value_error(name + ": out= cannot be used: the effect chooses the result's size");
    const PixelLayout outLayout = ArrayLayout(out, name + ": out");
    result = py::reinterpret_borrow<py::array>(out);
    if (outLayout.sampleBytes != layout.sampleBytes || result->ndim() != source.ndim() ||
        !std::equal(result->shape(), result->shape() + result->ndim(), source.shape()))
      throw py::value_error(name + ": out must have the image's shape and dtype");
    if (!(result->flags() & py::array::c_style) || !result->writeable())
      throw py::value_error(name + ": out must be a writable C-contiguous array");
    if (result->data() != source.data() && Overlaps(*result, source))
      source = py::array(source.dtype(),
                         std::vector<py::ssize_t>(source.shape(), source.shape() + source.ndim()),
                         source.data());  // a copy: the rows would overwrite each other
  } else if (!resizes) {
    result = NewImage(width, height, layout);
  }

  uint8_t* resultRows = result ? static_cast<uint8_t*>(result->mutable_data()) : nullptr;
  const auto* sourceRows = static_cast<const uint8_t*>(source.data());
  const bool wrapped = resultRows && CanWrapRows(rowBytes);
  HostBitmap work;
  int32_t rc = wrapped ? work.Wrap(resultRows, width, height, layout, rowBytes)
                       : work.Create(width, height, layout);
  if (rc != SUCCESS) return py::make_tuple(rc, py::none());
  if (!region.is_none()) SetRegion(work, region, name);
  // Values after the bitmap: text values may be relative to its size or region.
  CallValues values(effect, work.get());
  for (const auto& [key, value] : params) values.Add(py::str(key), value);
  const std::vector<FxNamedValue>& named = values.Build();

  CallbackState state;
  state.callable = progress;
  FxReport report{};
  {
    py::gil_scoped_release release;
    if (!(wrapped && sourceRows == resultRows)) CopyRowsIn(sourceRows, rowBytes, *work.get());
    if (generatorSeed) HostSeedRandom(*generatorSeed);
    CallbackGuard callback(state);
    rc = FxInvokeEx(&effect, work.get(), named.data(), uint32_t(named.size()),
                    FX_INVOKE_CHECK_RANGES, &report);
  }
  if (state.error) throw std::move(*state.error);
  // A value outside its range is refused before the export runs, as on the command line.
  if (rc == FX_REGISTRY_OUT_OF_RANGE) throw py::value_error(report.message);
  if (rc != SUCCESS) return py::make_tuple(rc, py::none());

  const BitmapRecord& done = *work.get();
  if (done.BitsPerPixel != layout.bitsPerPixel || done.Order != layout.order ||
      done.Orientation != 1)
    throw std::runtime_error(name + ": the effect returned the bitmap in another format");
  if (!resizes && (done.Width != width || done.Height != height))
    throw std::runtime_error(name + ": the effect changed the image's size");
  if (resizes) result = NewImage(done.Width, done.Height, layout);
  if (!wrapped || done.Data != resultRows) {
    uint8_t* rows = static_cast<uint8_t*>(result->mutable_data());
    py::gil_scoped_release release;
    CopyRowsOut(done, rows, layout.RowBytes(done.Width));
  }
  return py::make_tuple(rc, *result);
}

py::dict ProbeLast() {
  const ProbeCall& c = LastProbeCall();
  const auto bytes = [](const std::vector<uint8_t>& v) {
    return py::bytes(reinterpret_cast<const char*>(v.data()), v.size());
  };
  return py::dict(
      "width"_a = c.width, "height"_a = c.height, "bits_per_pixel"_a = c.bitsPerPixel,
      "order"_a = c.order, "i"_a = c.i, "u"_a = c.u, "flags"_a = c.flags,
      "center"_a = py::make_tuple(c.center.x, c.center.y), "color"_a = c.color,
      "info"_a = c.infoNull ? py::object(py::none()) : py::object(bytes(c.info)),
      "curve"_a = c.curveNull ? py::object(py::none()) : py::cast(c.curve),
      "curveCount"_a = c.curveCount,
      "lights"_a = c.lightsNull ? py::object(py::none()) : py::object(bytes(c.lights)),
      "lightCount"_a = c.lightCount,
      "corners"_a = c.cornersNull ? py::object(py::none()) : py::cast(c.corners),
      "texture"_a =
          c.textureNull
              ? py::object(py::none())
              : py::object(py::dict("width"_a = c.textureWidth, "height"_a = c.textureHeight,
                                    "bits_per_pixel"_a = c.textureBitsPerPixel,
                                    "order"_a = c.textureOrder, "rows"_a = bytes(c.textureRows))),
      "size"_a = c.size);
}

}  // namespace

}  // namespace fxpy

PYBIND11_MODULE(_core, m) {
  namespace py = pybind11;
  using namespace pybind11::literals;
  m.doc() = "fxkit's compiled core; use the fxkit package.";
  m.def("describe", &fxpy::Describe, "Every registered effect as plain data.");
  m.def("apply", &fxpy::Apply, "effect"_a, "image"_a, "params"_a, "out"_a, "region"_a, "seed"_a,
        "progress"_a);
  m.def(
      "result_name",
      [](int32_t code) -> py::object {
        const char* name = FxResultName(code);
        return name ? py::object(py::str(name)) : py::object(py::none());
      },
      "code"_a);
  m.def(
      "seed_random",
      [](py::handle seed) {
        HostSeedRandom(static_cast<uint32_t>(fxpy::PackWord(
            FX_KIND_UINT32, fxpy::IntFromPython(seed, "seed", "an integer"), "seed")));
      },
      "seed"_a);
  m.def(
      "fix_tick_count", [](uint32_t ms) { HostFixTickCount(ms); }, "milliseconds"_a);
  m.def(
      "fix_time", [](int64_t seconds) { HostFixTime(seconds); }, "seconds"_a);
  m.def("release_clocks", &HostReleaseClocks);
  m.def(
      "set_thread_count", [](int32_t threads) { HostSetThreadCount(threads); }, "threads"_a);
  m.def("thread_count", &HostGetThreadCount);
  m.def("live_blocks", &HostLiveBlocks);
  m.def("trim_memory", &HostTrimMemory);
  m.def("library_version", [] { return std::string(FxVersion()); });
  // The test effect: its description and what its last call on this thread received.
  m.def("describe_probe", [] { return fxpy::EffectObject(fxpy::ProbeEffect()); });
  m.def("probe_last", &fxpy::ProbeLast);
  m.attr("SUCCESS") = SUCCESS;
}
