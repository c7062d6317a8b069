"""Every registered effect through the module, compared with the fxkit tool on the same input,
seed and clocks: defaults in every format, every preset, the fourth sample, result codes."""
import re
import subprocess

import numpy as np
import pytest

import fxkit
from conftest import SEED, make_image

EFFECTS = fxkit.effects()
NAMES = [e["name"] for e in EFFECTS]
PRESETS = [(e["name"], name, words) for e in EFFECTS for name, words in e["presets"]]

FOUR_SAMPLES_ON_THEIR_OWN = {"dry"}

# Odd widths go through a bitmap of the module's own, even ones wrap the result's rows.
FORMATS = {
    "gray8": (31, 45, 1, np.uint8),
    "gray16": (36, 48, 1, np.uint16),
    "rgb8": (36, 48, 3, np.uint8),
    "rgb16": (31, 45, 3, np.uint16),
}


def seed_keyword(name):
    """The generator-seed option: `seed`, or `seed_` when the effect has a parameter so named."""
    desc = next(e for e in EFFECTS if e["name"] == name)
    names = {p["name"] for p in desc["params"]}
    for p in desc["params"]:
        if p["record"] and p["kind"] == "record":
            names.update(f["name"] for f in p["record"]["fields"])
    return "seed_" if "seed" in names else "seed"


def run(name, image, **kwargs):
    """The module's result, or the fxkit.Error or ValueError (a refused value) it raised."""
    try:
        return fxkit.apply(name, image, **{seed_keyword(name): SEED}, **kwargs)
    except (fxkit.Error, ValueError) as e:
        return e


def check_same(result, expected):
    """The same pixels, the same result code (tool exit 1) or the same refusal (exit 2)."""
    if isinstance(expected, subprocess.CompletedProcess):
        assert isinstance(result, (fxkit.Error, ValueError)), expected.stderr
        assert expected.returncode == (1 if isinstance(result, fxkit.Error) else 2)
        assert expected.stderr.strip() == "fxkit: %s" % result
    else:
        assert not isinstance(result, Exception), str(result)
        assert result.dtype == expected.dtype
        np.testing.assert_array_equal(result, expected)


@pytest.mark.parametrize("fmt", FORMATS)
@pytest.mark.parametrize("name", NAMES)
def test_defaults_match_the_command_line(cli, name, fmt):
    image = make_image(*FORMATS[fmt])
    check_same(run(name, image), cli.apply(name, image))


@pytest.mark.parametrize("name,preset,words", PRESETS)
def test_presets_match_the_command_line(cli, name, preset, words):
    effect = next(e for e in EFFECTS if e["name"] == name)
    bitmaps = {p["name"] for p in effect["params"] if p["kind"] == "bitmap"}
    if any(w.split("=")[0] in bitmaps for w in words.split()):
        pytest.skip("the preset names an image file or card; the module reads no files")
    # Large enough that every relative size measures inside its range (2.5%s of 48 is 1).
    image = make_image(48, 64, 3, np.uint8)
    expected = cli.apply(name, image, words.split())
    check_same(run(name, image, **fxkit.preset(name, preset)), expected)
    check_same(run(name, image, preset=preset), expected)


@pytest.mark.parametrize("dtype", [np.uint8, np.uint16])
@pytest.mark.parametrize("name", NAMES)
def test_fourth_sample_is_kept(name, dtype):
    colour = make_image(31, 45, 3, dtype)
    fourth = make_image(31, 45, 1, dtype, seed=2)
    both = run(name, np.dstack([colour, fourth]))
    expected = run(name, colour)
    # Dry decides the samples of a four-sample pixel one by one, a three-sample pixel as a whole.
    if name not in FOUR_SAMPLES_ON_THEIR_OWN:
        np.testing.assert_array_equal(both[..., :3], expected)
    if "resizes" not in next(e for e in EFFECTS if e["name"] == name)["traits"]:
        np.testing.assert_array_equal(both[..., 3], fourth)


@pytest.mark.parametrize("name,kwargs,code,code_name", [
    ("swirl", {"center": (60, 10)}, -11, "ERROR_POINT_OUT_OF_RANGE"),
    ("swirl", {"center": "-2,10"}, -11, "ERROR_POINT_OUT_OF_RANGE"),
    ("plasma-filter", {"StructSize": 28}, -789, "ERROR_INV_STRUCT_SIZE"),
    ("plasma-filter", {"info": None}, -814, "ERROR_NULL_INFO"),
])
def test_errors_carry_the_result_code(cli, name, kwargs, code, code_name):
    image = make_image(36, 48, 3, np.uint8)
    with pytest.raises(fxkit.Error) as raised:
        fxkit.apply(name, image, **kwargs)
    error = raised.value
    assert (error.effect, error.code, error.name) == (name, code, code_name)
    assert str(error) == "%s: %s (%d)" % (name, code_name, code)
    words = ["%s=%s" % (k, "null" if v is None else v if isinstance(v, (str, int)) else
                        ",".join(map(str, v))) for k, v in kwargs.items()]
    check_same(error, cli.apply(name, image, words))


# Values the registry refuses before the export runs, as the tool refuses the same words. Text is
# read by the same parser, so the messages are the tool's; integers are judged by the call.
@pytest.mark.parametrize("name,kwargs,error", [
    ("swirl", {"flags": 1}, ValueError),  # accepts no flags
    ("swirl", {"flags": "1"}, ValueError),
    ("spherize", {"strength": 501}, ValueError),
    ("spherize", {"strength": "0x1F5"}, ValueError),
    ("zoom-wave", {"amplitude": "1%s"}, ValueError),  # 0.36 of a pixel: 0, below the range
    ("spherize", {"outside": "wrp"}, ValueError),
    ("polar", {"direction": "sideways"}, ValueError),
    ("spherize", {"outsde": "wrap"}, TypeError),
    ("tunnel", {"radius": "21%x"}, ValueError),
])
def test_refusals_match_the_command_line(cli, name, kwargs, error):
    image = make_image(36, 48, 3, np.uint8)
    with pytest.raises(error) as raised:
        fxkit.apply(name, image, **kwargs)
    message = str(raised.value)
    keyword = next(iter(kwargs))
    assert message.startswith("%s: " % name) and keyword in message
    expected = cli.apply(name, image, ["%s=%s" % (k, v) for k, v in kwargs.items()])
    assert isinstance(expected, subprocess.CompletedProcess) and expected.returncode == 2
    if all(isinstance(v, str) for v in kwargs.values()):
        assert expected.stderr.strip() == "fxkit: %s" % message


def test_the_module_lists_what_the_command_line_lists(cli):
    listed = subprocess.run([cli.path, "list", "--names"], capture_output=True, text=True,
                            check=True).stdout.split()
    assert NAMES == listed
    for desc in EFFECTS:
        function = getattr(fxkit, desc["function"])
        assert function is not None and function.__name__ == desc["function"]
        assert fxkit._find(desc["export"]) == fxkit._find(desc["function"]) == desc["name"]
        help_text = subprocess.run([cli.path, "help", desc["name"]], capture_output=True,
                                   text=True, check=True).stdout
        assert desc["family"] in help_text.splitlines()[0]
        signature = function.__signature__.parameters
        for p in desc["params"]:
            assert p["help"] in function.__doc__
            # Fixed defaults as the tool's help gives them ("angle=N  int32  default 400; ...").
            match = re.search(r"^  %s=\S+\s+\S+\s+default ([-0-9A-Fa-fx,]+)" % re.escape(p["name"]),
                              help_text, re.M)
            if p["default_rule"] == "value":
                shown = signature[p["name"]].default
                text = ",".join(map(str, shown)) if p["kind"] == "point" else str(int(shown))
                assert match and _as_ints(match.group(1)) == _as_ints(text), p["name"]


def _as_ints(text):
    return [int(v, 0) for v in text.split(",")]


def test_seed_option_and_seed_parameter():
    image = make_image(36, 48, 3, np.uint8)
    # impressionist continues the thread's sequence: the same seed, the same scatter.
    first = fxkit.impressionist(image, seed=3)
    assert np.array_equal(fxkit.impressionist(image, seed=3), first)
    assert not np.array_equal(fxkit.impressionist(image, seed=4), first)
    fxkit.seed_random(3)
    assert np.array_equal(fxkit.impressionist(image), first)
    # clouds has a parameter named seed; the generator's is then seed_.
    names = list(fxkit.clouds.__signature__.parameters)
    assert "seed" in names and "seed_" in names
    assert not np.array_equal(fxkit.clouds(image, seed=7), fxkit.clouds(image, seed=8))
