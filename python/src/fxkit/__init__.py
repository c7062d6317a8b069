"""fxkit: image special effects on numpy arrays.

Every effect of the fxkit library is a function of this module, made from the library's registry
when the module is imported::

    import fxkit
    twisted = fxkit.swirl(image, angle=900, center=(320, 240))

Images are numpy arrays of uint8 or uint16 samples: H x W (gray), H x W x 3 (red, green, blue)
or H x W x 4 (colour and a fourth sample, such as alpha, that the effects keep). Parameters are
keywords named as on the fxkit command line, and take what its name=value words take (text
such as "50%,50%", "12.5%w" or outside="edge" is read by the library as the tool reads it);
help(fxkit.swirl) shows an effect's parameters, defaults and ranges, fxkit.effects() lists every
effect. An effect returns a new array (or writes
into out=), and raises fxkit.Error when the library answers anything but SUCCESS.
"""

import copy as _copy
import inspect as _inspect
import keyword as _keyword

from . import _core
from ._describe import docstring as _docstring
from ._describe import signature_default as _signature_default

__version__ = _core.library_version().split()[-1]

SUCCESS = _core.SUCCESS
ERROR_HOST_CANCELLED = -2100

# Call options every effect function takes besides the effect's parameters. An effect parameter
# of the same name wins; the option is then spelled with a trailing underscore (seed_=).
_OPTIONS = ("out", "region", "seed", "progress")


class Error(RuntimeError):
    """An effect answered a result code other than SUCCESS.

    effect: the effect's short name; code: the result code (int); name: the code's name, such as
    "ERROR_POINT_OUT_OF_RANGE" or "ERROR_HOST_CANCELLED".
    """

    def __init__(self, effect, code):
        self.effect = effect
        self.code = code
        self.name = _core.result_name(code) or "UNKNOWN_RESULT"
        super().__init__("%s: %s (%d)" % (effect, self.name, code))

    def __reduce__(self):
        return (Error, (self.effect, self.code))


def _function_name(short_name):
    return short_name.replace("-", "_")


def _option_names(desc):
    """The keyword of each call option for this effect (see _OPTIONS)."""
    taken = {p["name"] for p in desc["params"]}
    for p in desc["params"]:
        taken.update(f["name"] for f in p["flag_fields"])
        if p["kind"] == "record" and p["record"]:
            taken.update(f["name"] for f in p["record"]["fields"])
    return {option: option + "_" if option in taken else option for option in _OPTIONS}


def _signature(desc, options):
    names = {p["name"] for p in desc["params"]}
    params = [_inspect.Parameter("image_" if "image" in names else "image",
                                 _inspect.Parameter.POSITIONAL_ONLY)]
    for p in desc["params"]:
        if p["name"].isidentifier() and not _keyword.iskeyword(p["name"]):
            params.append(_inspect.Parameter(p["name"], _inspect.Parameter.KEYWORD_ONLY,
                                             default=_signature_default(desc, p)))
    for option in _OPTIONS:
        params.append(_inspect.Parameter(options[option], _inspect.Parameter.KEYWORD_ONLY,
                                         default=None))
    if desc["presets"] and "preset" not in names:
        params.append(_inspect.Parameter("preset", _inspect.Parameter.KEYWORD_ONLY, default=None))
    # Record fields and named bit fields are keywords too (Level=3, outside="edge").
    if any(p["kind"] == "record" or p["flag_fields"] for p in desc["params"]):
        params.append(_inspect.Parameter("fields", _inspect.Parameter.VAR_KEYWORD))
    return _inspect.Signature(params)


def _make_function(desc):
    short_name = desc["name"]
    options = _option_names(desc)
    preset_option = "preset" not in {p["name"] for p in desc["params"]}

    def effect(image, /, **kwargs):
        chosen = {option: kwargs.pop(keyword, None) for option, keyword in options.items()}
        if preset_option and "preset" in kwargs and kwargs["preset"] is None:
            del kwargs["preset"]  # the signature's default: no preset
        code, result = _core.apply(short_name, image, kwargs, chosen["out"], chosen["region"],
                                   chosen["seed"], chosen["progress"])
        if code != SUCCESS:
            raise Error(short_name, code)
        return result

    effect.__name__ = effect.__qualname__ = _function_name(short_name)
    effect.__module__ = __name__
    effect.__doc__ = _docstring(desc, options)
    effect.__signature__ = _signature(desc, options)
    return effect


_DESCRIPTIONS = _core.describe()
for _desc in _DESCRIPTIONS:
    _desc["function"] = _function_name(_desc["name"])
_FUNCTIONS = {d["name"]: _make_function(d) for d in _DESCRIPTIONS}
_LOOKUP = {}
for _desc in _DESCRIPTIONS:
    for _key in (_desc["name"], _desc["export"], _desc["function"]):
        _LOOKUP[_key] = _desc["name"]

__all__ = ["Error", "SUCCESS", "ERROR_HOST_CANCELLED", "effects", "apply", "preset",
           "seed_random", "fix_clocks", "release_clocks", "set_thread_count", "thread_count", "trim_memory"]
for _name, _function in _FUNCTIONS.items():
    # A name the module already uses stays the module's; the effect is still reached by apply().
    if _function.__name__ not in globals():
        globals()[_function.__name__] = _function
        __all__.append(_function.__name__)
del _desc, _key, _name, _function


def effects():
    """Every registered effect, in the registry's order, as a list of dicts.

    Keys: name (the command line's short name), function (its name in this module), export (the
    C export), family, summary, traits (random, clock, resizes, ...), presets ((name, values)
    pairs in the command line's syntax) and params, each a dict of name, kind, default_rule,
    default, min, max, help, record (name, size, fields), counts (the array a count parameter
    counts), fixed_count and flag_fields.
    """
    return _copy.deepcopy(_DESCRIPTIONS)


def _find(effect):
    try:
        return _LOOKUP[effect]
    except (KeyError, TypeError):
        raise ValueError("unknown effect %r (see fxkit.effects())" % (effect,)) from None


def apply(effect, image, /, **kwargs):
    """Applies an effect named by its short name ("zoom-blur"), export name
    ("Fx_ZoomBlurBitmap") or function name ("zoom_blur"); keywords as for that function."""
    return _FUNCTIONS[_find(effect)](image, **kwargs)


def preset(effect, name):
    """The keyword values of one of an effect's presets, as text for the effect's function:
    fxkit.swirl(image, **fxkit.preset("swirl", "strong"))."""
    desc = next(d for d in _DESCRIPTIONS if d["name"] == _find(effect))
    for preset_name, text in desc["presets"]:
        if preset_name == name:
            break
    else:
        raise ValueError("%s has no preset %r" % (desc["name"], name))
    return _preset_keywords(text)


def _preset_keywords(text):
    """Keywords from "name=value" words; lights[2].x=10 becomes lights=[{}, {}, {"x": "10"}]."""
    values = {}
    for word in text.split():
        key, _, value = word.partition("=")
        if "[" in key:
            param, _, rest = key.partition("[")
            index, _, field = rest.partition("].")
            records = values.setdefault(param, [])
            records.extend({} for _ in range(int(index) + 1 - len(records)))
            records[int(index)][field] = value
        else:
            values[key] = value
    return values


def seed_random(seed):
    """Seeds the calling thread's random generator, which the random effects draw from (each
    thread has its own, seeded 1 at its start)."""
    _core.seed_random(seed)


def fix_clocks(tick=None, time=None):
    """Fixes the clocks the effects read, for the whole process: the tick count in milliseconds
    and the calendar time in seconds (the command line's --tick and --time)."""
    if tick is not None:
        _core.fix_tick_count(tick)
    if time is not None:
        _core.fix_time(time)


def release_clocks():
    """Lets the clocks fixed by fix_clocks() run again."""
    _core.release_clocks()


def set_thread_count(threads):
    """How many threads the effects called on this thread may use (1 .. 256); 0 restores the
    default (FXKIT_THREADS, else the machine's cores). Results never depend on it."""
    _core.set_thread_count(threads)


def thread_count():
    """The threads the effects called on this thread may use."""
    return _core.thread_count()


def trim_memory():
    """Gives back to the system the freed blocks the library holds for reuse (up to 128 MiB, so
    that the next call on a picture of the same size finds its memory ready); returns their
    bytes."""
    return _core.trim_memory()
