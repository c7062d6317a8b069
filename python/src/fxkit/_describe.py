"""Docstrings and signature defaults of the effect functions, from the registry's descriptions."""

_INT32_MIN, _INT32_MAX, _UINT32_MAX = -(2**31), 2**31 - 1, 2**32 - 1


class ImageDefault:
    """A default the library forms from the image or from nothing the caller gives; shown in
    signatures. Passing it is the same as leaving the keyword out."""

    def __init__(self, text):
        self.text = text

    def __repr__(self):
        return "<%s>" % self.text


class Hex(int):
    """Flags and colours show in hex in signatures."""

    def __repr__(self):
        return "0x%X" % self


def _hex(value):
    return "0x%X" % value


def _range(kind, low, high):
    if (low <= _INT32_MIN and high >= _INT32_MAX) or (
            kind != "int32" and low <= 0 and high >= _UINT32_MAX):
        return "any"
    if kind in ("flags", "color"):
        return "%s..%s" % (_hex(low), _hex(high))
    return "%d..%d" % (low, high)


def _scalar_text(kind, value):
    if kind == "point":
        return "(%d, %d)" % tuple(value)
    if kind in ("flags", "color"):
        return _hex(value)
    return str(value)


def default_text(desc, p):
    rule, value = p["default_rule"], p["default"]
    if rule == "value":
        return _scalar_text(p["kind"], value)
    if rule == "center":
        return "centre of the rectangle to process"
    if rule == "width-percent":
        return "%d%% of the width" % value
    if rule == "height-percent":
        return "%d%% of the height" % value
    if rule == "null":
        return "None"
    if rule == "image-copy":
        return "a copy of the image"
    if rule == "texture":
        return "built-in 128x128 gray texture"
    if rule == "count":
        return "number of values in %s" % p["counts"] if p["counts"] else "0"
    if p["kind"] == "int-array":
        return str(list(value)) if value else "None"
    if p["kind"] == "record-array":
        return "%d record(s) of field defaults" % value
    return "field defaults"


def signature_default(desc, p):
    """What the signature shows as a parameter's default."""
    rule, kind, value = p["default_rule"], p["kind"], p["default"]
    if rule == "value":
        if kind == "point":
            return tuple(value)
        return Hex(value) if kind in ("flags", "color") else value
    if rule == "null":
        return None
    if rule == "array" and kind == "int-array":
        return tuple(value) if value else None
    return ImageDefault(default_text(desc, p))


_KIND_TEXT = {
    "int32": "int32",
    "uint32": "uint32",
    "flags": "flags (int)",
    "point": "point (x, y)",
    "color": "colour (0x00BBGGRR, '#RRGGBB' or (r, g, b))",
    "record": "record (dict of fields)",
    "int-array": "sequence of int32",
    "record-array": "sequence of dicts of fields",
    "bitmap": "image array",
}


def _param_lines(desc, p):
    kind = p["kind"]
    line = "%s : %s, default %s" % (p["name"], _KIND_TEXT.get(kind, kind), default_text(desc, p))
    if kind in ("int32", "uint32", "flags", "color"):
        line += ", range " + _range(kind, p["min"], p["max"])
    elif kind == "int-array":
        line += ", each " + _range("int32", p["min"], p["max"])
        if p["fixed_count"]:
            line += ", exactly %d values" % p["fixed_count"]
    lines = [line, "    " + p["help"]]
    for field in p["flag_fields"]:
        names = ", ".join("%s=%s" % (v["name"], _hex(v["value"])) for v in field["values"])
        lines.append("    %s (bits %s): %s; %s" % (field["name"], _hex(field["mask"]), names,
                                                   field["help"]))
    record = p["record"]
    if record:
        if kind == "record":
            lines.append("    %s fields (also as keywords of their own, Field=v, or '%s.Field'):"
                         % (record["name"], p["name"]))
        else:
            lines.append("    %s fields of each record:" % record["name"])
        for i, f in enumerate(record["fields"]):
            if i == 0:
                lines.append("        %s : filled in (%d); give it only to pass a wrong size"
                             % (f["name"], record["size"]))
                continue
            text = "        %s : %s, default %s" % (f["name"], f["kind"],
                                               _scalar_text(f["kind"], f["default"]))
            if f["kind"] != "point":
                text += ", range " + _range(f["kind"], f["min"], f["max"])
            lines += [text, "            " + f["help"]]
    return lines


def docstring(desc, options):
    """The help text of an effect function; `options` maps each call option to its keyword."""
    lines = [desc["summary"] + ".", ""]
    lines.append("%s (command line: fxkit apply %s), %s." % (desc["export"], desc["name"],
                                                             desc["family"]))
    if desc["traits"]:
        lines.append("Traits: %s." % ", ".join(desc["traits"]))
    lines += ["", "Parameters", "----------"]
    for p in desc["params"]:
        lines += _param_lines(desc, p)
    lines += ["", "Call options", "------------",
              "image : numpy array of uint8 or uint16 samples",
              "    H x W gray, H x W x 3 red-green-blue, or H x W x 4 colour plus a fourth "
              "sample the effect keeps.",
              "%s : array, optional" % options["out"]]
    if "resizes" in desc["traits"]:
        lines.append("    Not available: the effect chooses the result's size.")
    else:
        lines.append("    Writes the result into this array (same shape and dtype, C-contiguous; "
                     "may be the image itself) and returns it; after an error it may be partly "
                     "written.")
    lines += ["%s : (x, y, width, height) or a boolean H x W mask, optional" % options["region"],
              "    Only these pixels change.",
              "%s : int, optional" % options["seed"],
              "    Seeds the calling thread's random generator first (the command line's --srand)"
              + ("." if "random" in desc["traits"] else "; this effect draws no random numbers."),
              "%s : callable(percent), optional" % options["progress"],
              "    Called as the effect progresses; a False answer or an exception cancels it "
              "(fxkit.Error ERROR_HOST_CANCELLED, or the exception).",
              "",
              "Returns the result as a new array (or out). Raises fxkit.Error with the result "
              "code when the library answers anything but SUCCESS, TypeError or ValueError for "
              "arguments that do not fit.",
              "Values may also be text in the command line's syntax ('320,240', '#FF8000')."]
    if desc["presets"]:
        lines += ["", "Presets (fxkit.preset('%s', NAME) gives the keywords)" % desc["name"]]
        lines += ["    %-14s %s" % (name, values) for name, values in desc["presets"]]
    return "\n".join(lines)
