// Registry descriptions as text.
#include "tools/fxkit/Describe.h"

#include <algorithm>
#include <cstdio>

#include "tools/fxkit/Values.h"

namespace fxcli {

namespace {

constexpr FxFamily kFamilies[] = {FX_FAMILY_DISTORTION, FX_FAMILY_BLUR_LIGHT_GLOW,
                                  FX_FAMILY_ARTISTIC, FX_FAMILY_PROCEDURAL, FX_FAMILY_RESCALING};

std::string Pad(std::string s, size_t width) {
  if (s.size() < width) s.append(width - s.size(), ' ');
  return s;
}

std::string RangeText(FxKind kind, int64_t min, int64_t max) {
  const bool any = (min <= INT32_MIN && max >= INT32_MAX) ||
                   (kind != FX_KIND_INT32 && min <= 0 && max >= int64_t{UINT32_MAX});
  if (any) return "any";
  if (kind == FX_KIND_FLAGS || kind == FX_KIND_COLOR)
    return FormatScalar(kind, min) + ".." + FormatScalar(kind, max);
  return std::to_string(min) + ".." + std::to_string(max);
}

// What a parameter's value looks like on the command line.
std::string Syntax(const FxParamDesc& p) {
  switch (p.kind) {
    case FX_KIND_POINT:
      return std::string(p.name) + "=X,Y";
    case FX_KIND_COLOR:
      return std::string(p.name) + "=COLOR";
    case FX_KIND_INT_ARRAY:
      return std::string(p.name) + "=V,V,...";
    case FX_KIND_RECORD:
      return std::string(p.name) + " (record)";
    case FX_KIND_RECORD_ARRAY:
      return std::string(p.name) + "[I].FIELD=V";
    case FX_KIND_BITMAP:
      return std::string(p.name) + "=FILE";
    default:
      return std::string(p.name) + "=N";
  }
}

// A value with its named form where it has one: "0xA12 = mode=average shape=grid".
std::string NamedText(const FxFlagField* fields, uint32_t count, FxKind kind, int64_t value) {
  char named[512];
  const std::string number = FormatScalar(kind, value);
  if (!count || !FxFormatNamed(fields, count, uint32_t(value), nullptr, named, sizeof(named)))
    return number;
  return number + " = " + named;
}

// The named bit fields of a parameter or record field, one line per field and per value.
void AppendFields(std::string& out, const FxFlagField* fields, uint32_t count, const char* owner,
                  const std::string& indent) {
  if (!count) return;
  const bool whole = count == 1 && std::string(fields[0].name) == owner;
  out += indent +
         (whole ? "named values:"
                : "named fields, set on top of the default or " + std::string(owner) + "=:") +
         "\n";
  for (uint32_t k = 0; k < count; ++k) {
    const FxFlagField& f = fields[k];
    std::string names;
    size_t width = 0;
    for (uint32_t v = 0; v < f.valueCount; ++v) {
      names += (v ? "|" : "") + std::string(f.values[v].name);
      width = std::max(width, std::string(f.values[v].name).size());
    }
    char mask[16];
    std::snprintf(mask, sizeof(mask), "0x%X", f.mask);
    out += indent + "  " + Pad(std::string(f.name) + "=" + names, 30) + " " +
           (f.help ? f.help : "") + (whole ? "" : std::string(" (bits ") + mask + ")") + "\n";
    for (uint32_t v = 0; v < f.valueCount; ++v)
      out += indent + "      " + Pad(f.values[v].name, width + 2) +
             (f.values[v].help ? f.values[v].help : "") + "\n";
  }
}

std::string DefaultText(const FxEffectDesc& e, const FxParamDesc& p) {
  switch (p.defaultRule) {
    case FX_DEFAULT_VALUE:
      return NamedText(p.flagFields, p.flagFieldCount, p.kind, p.defaultValue);
    case FX_DEFAULT_CENTER:
      return "centre of the rectangle to process";
    case FX_DEFAULT_WIDTH_PERCENT:
      return std::to_string(p.defaultValue) + "% of the width";
    case FX_DEFAULT_HEIGHT_PERCENT:
      return std::to_string(p.defaultValue) + "% of the height";
    case FX_DEFAULT_NULL:
      return "null";
    case FX_DEFAULT_IMAGE_COPY:
      return "a copy of the image";
    case FX_DEFAULT_TEXTURE:
      return "built-in 128x128 gray texture";
    case FX_DEFAULT_IMAGE_ITSELF:
      return "the image itself";
    case FX_DEFAULT_COUNT:
      if (p.arrayParam >= 0 && uint32_t(p.arrayParam) < e.paramCount)
        return std::string("number of values in ") + e.params[p.arrayParam].name;
      return "0";
    case FX_DEFAULT_ARRAY:
      if (p.kind == FX_KIND_INT_ARRAY) {
        std::string list;
        for (uint32_t i = 0; i < p.defaultArrayCount; ++i)
          list += (i ? "," : "") + std::to_string(p.defaultArray[i]);
        return list.empty() ? "null" : list;
      }
      if (p.kind == FX_KIND_RECORD_ARRAY)
        return std::to_string(p.defaultArrayCount) + " record(s) of field defaults";
      return "field defaults";
  }
  return "?";
}

void AppendParam(std::string& out, const FxEffectDesc& e, const FxParamDesc& p) {
  std::string line = "  " + Pad(Syntax(p), 22) + " " + Pad(FxKindName(p.kind), 12) + " default " +
                     DefaultText(e, p);
  const bool scalar = p.kind <= FX_KIND_COLOR && p.kind != FX_KIND_POINT;
  if (scalar || p.kind == FX_KIND_INT_ARRAY)
    line += (p.kind == FX_KIND_INT_ARRAY ? "; each " : "; range ") +
            RangeText(p.kind == FX_KIND_INT_ARRAY ? FX_KIND_INT32 : p.kind, p.minValue, p.maxValue);
  if (p.kind == FX_KIND_INT_ARRAY && p.fixedCount)
    line += "; exactly " + std::to_string(p.fixedCount) + " values";
  out += line + "\n      " + (p.help ? p.help : "") + "\n";
  AppendFields(out, p.flagFields, p.flagFieldCount, p.name, "      ");
  if ((p.kind == FX_KIND_RECORD || p.kind == FX_KIND_RECORD_ARRAY) && p.record) {
    const FxRecordDesc& r = *p.record;
    out += "      " + std::string(r.name) + ", " + std::to_string(r.size) + " bytes" +
           (p.kind == FX_KIND_RECORD
                ? "; fields by name (FIELD=V or " + std::string(p.name) + ".FIELD=V):"
                : "; fields of each record:") +
           "\n";
    for (uint32_t f = 0; f < r.fieldCount; ++f) {
      const FxFieldDesc& field = r.fields[f];
      if (f == 0) {
        out += "        " + Pad(field.name, 20) + " filled in (" + std::to_string(r.size) +
               "); name it only to pass a wrong size\n";
        continue;
      }
      const bool array = field.kind == FX_KIND_INT_ARRAY;
      std::string fieldLine =
          "        " + Pad(field.name, 20) + " " + Pad(FxKindName(field.kind), 8) + " default " +
          (array
               ? std::string("null")
               : NamedText(field.flagFields, field.flagFieldCount, field.kind, field.defaultValue));
      if (array)
        fieldLine += "; each " + RangeText(FX_KIND_INT32, field.minValue, field.maxValue) +
                     "; exactly " + std::to_string(field.arrayCount) + " values";
      else if (field.kind != FX_KIND_POINT)
        fieldLine += "; range " + RangeText(field.kind, field.minValue, field.maxValue);
      out += fieldLine + "\n          " + (field.help ? field.help : "") + "\n";
      AppendFields(out, field.flagFields, field.flagFieldCount, field.name, "          ");
    }
  }
}

}  // namespace

std::string EffectListText(ListStyle style) {
  std::string out;
  const uint32_t n = FxEffectCount();
  if (style != ListStyle::Families) {
    for (uint32_t i = 0; i < n; ++i)
      out += std::string(style == ListStyle::ShortNames ? FxEffectAt(i)->shortName
                                                        : FxEffectAt(i)->exportName) +
             "\n";
    return out;
  }
  size_t width = 0;
  for (uint32_t i = 0; i < n; ++i)
    width = std::max(width, std::string(FxEffectAt(i)->shortName).size());
  for (FxFamily family : kFamilies) {
    std::string block;
    for (uint32_t i = 0; i < n; ++i) {
      const FxEffectDesc* e = FxEffectAt(i);
      if (e->family == family)
        block += "  " + Pad(e->shortName, width + 2) + (e->summary ? e->summary : "") + "\n";
    }
    if (!block.empty()) out += std::string(FxFamilyName(family)) + "\n" + block;
  }
  return out;
}

std::string EffectHelpText(const FxEffectDesc& e) {
  std::string out = std::string(e.shortName) + " (" + e.exportName + "), " +
                    FxFamilyName(e.family) + "\n  " + (e.summary ? e.summary : "") + "\n\n";
  out += "usage: fxkit apply " + std::string(e.shortName) +
         " INPUT OUTPUT [name=value ...] [--preset=NAME] [options]\n\n";
  out += "parameters, in export order:\n";
  for (uint32_t i = 0; i < e.paramCount; ++i) AppendParam(out, e, e.params[i]);
  if (e.presetCount) {
    out += "\npresets (--preset=NAME; name=value words override them):\n";
    size_t width = 0;
    for (uint32_t i = 0; i < e.presetCount; ++i)
      width = std::max(width, std::string(e.presets[i].name).size());
    for (uint32_t i = 0; i < e.presetCount; ++i)
      out += "  " + Pad(e.presets[i].name, width + 1) + " " + e.presets[i].values + "\n";
  }
  std::string traits;
  if (e.traits & FX_TRAIT_RANDOM) traits += " random (--srand)";
  if (e.traits & FX_TRAIT_CLOCK) traits += " clock (--tick, --time)";
  if (e.traits & FX_TRAIT_RESIZES) traits += " resizes";
  if (!traits.empty()) out += "\nuses:" + traits + "\n";
  out +=
      "\nvalues: integers in decimal or 0x hex, or N%w, N%h, N%s: N percent of the width, height "
      "or shorter\n"
      "side of the picture (the region); points X,Y with X% and Y% from the left and top edge "
      "(50%,50%);\n"
      "colours 0x00BBGGRR, #RRGGBB, #RGB, rgb(R,G,B) or a CSS name (white, teal); arrays "
      "V,V,...;\n"
      "FILE is a PNG, JPEG, PPM or PGM file or @card[:WxH]; null passes a null pointer. Names "
      "ignore case.\n"
      "chains: fxkit apply INPUT OUTPUT EFFECT [name=value ...] -- EFFECT [name=value ...] ...\n";
  return out;
}

std::string ResultText(int32_t code) {
  const char* name = FxResultName(code);
  return std::string(name ? name : "UNKNOWN_RESULT") + " (" + std::to_string(code) + ")";
}

}  // namespace fxcli
