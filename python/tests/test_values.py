"""Keyword values to the library's named values, through the module's test effect: one parameter
of every kind, a thunk that records what it received. Expected values are written out from the
C layout (struct) and the command line's value syntax."""
import struct

import numpy as np
import pytest

import fxkit
from conftest import make_image

probe = fxkit._make_function(fxkit._core.describe_probe())
IMAGE = make_image(36, 48, 3, np.uint8)


def received(**kwargs):
    probe(IMAGE, **kwargs)
    return fxkit._core.probe_last()


def info_bytes(size=24, level=-3, mode=0x12, tint=0x0000FF, spot=(2, 3)):
    return struct.pack("<IiIIii", size, level, mode, tint, *spot)


def light_bytes(x=1, y=2):
    return struct.pack("<Iii", 12, x, y)


def test_defaults():
    got = received()
    assert (got["i"], got["u"], got["flags"], got["color"]) == (5, 7, 0x10, 0x00FF00)
    assert got["center"] == (24, 18)  # centre of the 48 x 36 rectangle
    assert got["size"] == 24  # 50% of the width
    assert got["info"] == info_bytes()
    assert (got["curve"], got["curveCount"]) == ([10, 20, 30], 3)
    assert (got["lights"], got["lightCount"]) == (light_bytes() * 2, 2)
    assert got["corners"] == [1, 2, 3, 4]
    assert got["texture"] is None


@pytest.mark.parametrize("keyword,value,field,expected", [
    ("i", -1, "i", -1),
    ("i", "-0x10", "i", -16),
    ("i", 2**32 - 1, "i", -1),  # a 32-bit pattern, as on the command line
    ("i", np.int16(-7), "i", -7),
    ("i", True, "i", 1),
    ("u", -1, "u", 0xFFFFFFFF),
    ("u", "4294967295", "u", 0xFFFFFFFF),
    ("flags", "0x80000000", "flags", 0x80000000),
    ("center", (3, -4), "center", (3, -4)),
    ("center", [3, 4], "center", (3, 4)),
    ("center", "3,-4", "center", (3, -4)),
    ("center", np.array([-2**31, 2**31 - 1]), "center", (-2**31, 2**31 - 1)),
    ("color", 0x123456, "color", 0x123456),
    ("color", "#102030", "color", 0x302010),
    ("color", (0x10, 0x20, 0x30), "color", 0x302010),
    ("color", "0xFFFFFFFF", "color", 0xFFFFFFFF),
])
def test_scalars(keyword, value, field, expected):
    assert received(**{keyword: value})[field] == expected


@pytest.mark.parametrize("kwargs,error", [
    ({"i": 1.5}, TypeError),
    ({"i": None}, TypeError),
    ({"i": 2**32}, ValueError),
    ({"i": -2**31 - 1}, ValueError),
    ({"i": 2**70}, ValueError),
    ({"i": "12abc"}, ValueError),
    ({"i": ""}, ValueError),
    ({"center": (1, 2, 3)}, TypeError),
    ({"center": 5}, TypeError),
    ({"center": (2**31, 0)}, ValueError),
    ({"center": "1;2"}, ValueError),
    ({"color": (256, 0, 0)}, ValueError),
    ({"color": (1, 2)}, TypeError),
    ({"color": "#12345"}, ValueError),
    ({"curve": [1.5]}, TypeError),
    ({"curve": "1,,2"}, ValueError),
    ({"curve": [2**32]}, ValueError),
    ({"info": [1]}, TypeError),
    ({"info": {"Nope": 1}}, TypeError),
    ({"info": None, "Level": 1}, TypeError),
    ({"info": {"Level": 2}, "Level": 1}, TypeError),
    ({"info.Nope": 1}, TypeError),
    ({"lights": {"X": 1}}, TypeError),
    ({"lights": [{"Z": 1}]}, TypeError),
    ({"lights": [5]}, TypeError),
    ({"corners": [1, 2, 3]}, ValueError),
    ({"texture": "card.png"}, TypeError),
    ({"nosuch": 1}, TypeError),
])
def test_values_that_do_not_fit(kwargs, error):
    with pytest.raises(error):
        probe(IMAGE, **kwargs)


def test_records():
    assert received(info={"Level": 9, "Tint": "#0000FF"})["info"] == info_bytes(level=9,
                                                                                 tint=0xFF0000)
    # Fields by their bare names or as "param.Field", merged with a dict, as on the command line.
    assert received(Level=9, **{"info.Mode": 1})["info"] == info_bytes(level=9, mode=1)
    assert received(info={"Tint": 1}, Level=9)["info"] == info_bytes(level=9, tint=1)
    assert received(info={"Spot": (-5, 6)})["info"] == info_bytes(spot=(-5, 6))
    assert received(StructSize=8)["info"] == info_bytes(size=8)  # a wrong size on purpose
    assert received(info=None)["info"] is None


def test_arrays_and_counts():
    got = received(curve=[4, 5])
    assert (got["curve"], got["curveCount"]) == ([4, 5], 2)
    assert received(curve="7,-8,#000001,0xFFFFFFFF")["curve"] == [7, -8, 0x010000, -1]
    assert received(curve=np.array([1, 2, 3, 4], np.int16))["curve"] == [1, 2, 3, 4]
    assert received(curve=(1, 2, 3), curveCount=2)["curve"] == [1, 2]
    got = received(curve=[])
    assert (got["curve"], got["curveCount"]) == ([], 0)  # an empty array, not a null pointer
    got = received(curve=None)
    assert (got["curve"], got["curveCount"]) == (None, 0)
    assert received(corners=(9, 8, 7, 6))["corners"] == [9, 8, 7, 6]
    assert received(corners=None)["corners"] is None

    got = received(lights=[{"X": 5}, {}, {"Y": "0x10"}])
    assert got["lightCount"] == 3
    assert got["lights"] == light_bytes(x=5) + light_bytes() + light_bytes(y=16)
    got = received(lights=[{"X": 5}, {}], lightCount=1)
    assert (got["lights"], got["lightCount"]) == (light_bytes(x=5), 1)
    got = received(lights=[])
    assert (got["lights"], got["lightCount"]) == (b"", 0)


def test_count_beyond_its_array_is_a_registry_error():
    with pytest.raises(fxkit.Error) as raised:
        probe(IMAGE, curve=[1, 2, 3], curveCount=4)
    assert (raised.value.code, raised.value.name) == (-30003, "FX_REGISTRY_COUNT_TOO_LARGE")
    with pytest.raises(fxkit.Error) as raised:
        probe(IMAGE, lights=[{}], lightCount=2)
    assert raised.value.code == -30003


@pytest.mark.parametrize("shape,dtype,bits,order", [
    ((5, 7), np.uint8, 8, 2),
    ((5, 7), np.uint16, 16, 2),
    ((5, 7, 3), np.uint8, 24, 1),
    ((5, 7, 3), np.uint16, 48, 1),
    ((5, 7, 4), np.uint8, 32, 1),
    ((5, 7, 4), np.uint16, 64, 1),
])
def test_bitmap_parameters(shape, dtype, bits, order):
    texture = np.arange(np.prod(shape), dtype=np.uint32).reshape(shape).astype(dtype) * 13
    got = received(texture=texture)["texture"]
    assert (got["width"], got["height"], got["bits_per_pixel"], got["order"]) == (7, 5, bits,
                                                                                 order)
    assert got["rows"] == texture.tobytes()
    # Any strides: a column-major copy and a slice read the same pixels.
    assert received(texture=np.asfortranarray(texture))["texture"]["rows"] == texture.tobytes()
    part = texture[1::2, ::3]
    assert received(texture=part)["texture"]["rows"] == np.ascontiguousarray(part).tobytes()


def test_presets_as_keywords():
    assert fxkit.preset("plasma-filter", "custom") == {
        "pattern": "corner", "colors": "periods", "RedPeriod": "40", "GreenPeriod": "70",
        "BluePeriod": "0", "Wavelength": "417%s", "ImagePercent": "20"}
    words = fxkit._preset_keywords("lights[1].X=5 lights[0].Y=-2 info.Level=3 i=4 center=1,2")
    got = received(**words)
    assert (got["i"], got["center"]) == (4, (1, 2))
    assert got["info"] == info_bytes(level=3)
    assert got["lights"] == light_bytes(y=-2) + light_bytes(x=5)
    with pytest.raises(ValueError):
        fxkit.preset("swirl", "no-such-preset")


# Text in the command line's forms, read by the library on the 48 x 36 image: named bit fields
# set on the default (flags 0x10, Mode 0x12) or on the whole value given, percentages of the
# width, height or shorter side truncated toward zero, points in percent of each side.
@pytest.mark.parametrize("kwargs,field,expected", [
    ({"edge": "wrap"}, "flags", 0x10 & ~0x3 | 0x1),
    ({"flags": 0x200, "edge": "keep"}, "flags", 0x202),
    ({"flags.edge": "keep", "mirror": "on"}, "flags", 0x10 | 0x2 | 0x100),
    ({"flags": "0x3", "edge": "fill"}, "flags", 0x0),
    ({"u": "most"}, "u", 0xFFFFFFFF),
    ({"u": "Seven"}, "u", 7),
    ({"size": "25%w"}, "size", 12),
    ({"size": "50%h"}, "size", 18),
    ({"size": "10%s"}, "size", 3),  # 3.6
    ({"size": "8.3334%s"}, "size", 3),  # 3.000024
    ({"i": "-10%s"}, "i", -3),  # -3.6, toward zero
    ({"center": "50%,25%"}, "center", (24, 9)),
    ({"center": "0%,100%"}, "center", (0, 36)),
    ({"center": "10,50%"}, "center", (10, 18)),
    ({"color": "teal"}, "color", 0x808000),  # #008080
    ({"color": "rgb(1,2,3)"}, "color", 0x030201),
    ({"color": "#123"}, "color", 0x332211),
    ({"curve": "rgb(1,2,3),50%w,-0x1"}, "curve", [0x030201, 24, -1]),
    ({"curve": ["25%h", 7]}, "curve", [9, 7]),
])
def test_text_forms(kwargs, field, expected):
    assert received(**kwargs)[field] == expected


@pytest.mark.parametrize("kwargs,mode,level", [
    ({"shade": "hard"}, 0x212, -3),
    ({"info": {"shade": "soft", "Level": "50%s"}}, 0x112, 18),
    ({"Mode": 0xF00, "info.shade": "flat"}, 0x000, -3),
    ({"Mode": "0x3FF", "shade": "soft"}, 0x1FF, -3),
])
def test_named_fields_of_record_fields(kwargs, mode, level):
    assert received(**kwargs)["info"] == info_bytes(mode=mode, level=level)


def test_relative_values_measure_the_region():
    # The 20 x 10 rectangle at (8, 4): sizes of its sides, points from its corner.
    got = received(size="50%w", center="50%,50%", region=(8, 4, 20, 10))
    assert (got["size"], got["center"]) == (10, (18, 9))
    got = received(**{"lights[1].X": "10%w"})
    assert (got["lights"], got["lightCount"]) == (light_bytes() + light_bytes(x=4), 2)


@pytest.mark.parametrize("kwargs,error,fragment", [
    ({"edge": 1}, TypeError, "'fill', 'wrap', 'keep'"),
    ({"edge": "wrp"}, ValueError, "did you mean wrap"),
    ({"sizee": "1"}, TypeError, "did you mean size"),
    ({"size": "10%q"}, ValueError, "size=10%q"),
    ({"i": "200"}, ValueError, "i=200 is outside -100..100"),
    ({"i": 200}, ValueError, "is outside -100..100"),
    ({"i": "300%w"}, ValueError, "is 144 on this picture"),
    ({"color": "tael"}, ValueError, "did you mean teal"),
    ({"shade": "hard", "info": None}, TypeError, "given twice"),
    ({"info": None, "shade": "hard"}, TypeError, "given as None"),
    ({"edge": "wrap", "flags.edge": "keep"}, TypeError, "given twice"),
    ({"preset": "dmeo"}, ValueError, "did you mean demo"),
    ({"preset": 3}, TypeError, "preset's name"),
])
def test_refused_text(kwargs, error, fragment):
    with pytest.raises(error) as raised:
        probe(IMAGE, **kwargs)
    assert str(raised.value).startswith("_probe: ") and fragment in str(raised.value)


# The preset's words (edge=keep size=25%w Level=7 lights[1].X=5) under the keywords given: a
# keyword replaces the preset's word for the same thing, a whole value its named fields too.
@pytest.mark.parametrize("kwargs,flags,size,level", [
    ({"preset": "demo"}, 0x12, 12, 7),
    ({"preset": "DEMO"}, 0x12, 12, 7),
    ({"size": 3, "preset": "demo"}, 0x12, 3, 7),
    ({"preset": "demo", "flags": 0x100}, 0x100, 12, 7),
    ({"preset": "demo", "edge": "wrap"}, 0x11, 12, 7),
    ({"preset": "demo", "info": {"Level": 1}}, 0x12, 12, 1),
])
def test_preset_keyword(kwargs, flags, size, level):
    got = received(**kwargs)
    assert (got["flags"], got["size"], got["info"]) == (flags, size, info_bytes(level=level))
    assert got["lights"] == light_bytes() + light_bytes(x=5)


def test_signature_lists_the_preset_keyword():
    parameters = fxkit.spherize.__signature__.parameters
    assert parameters["preset"].default is None
    assert parameters["preset"].kind == parameters["preset"].KEYWORD_ONLY
    # Named bit fields are keywords beyond the parameters.
    assert any(p.kind == p.VAR_KEYWORD for p in parameters.values())
    image = make_image(12, 16, 3, np.uint8)
    np.testing.assert_array_equal(fxkit.spherize(image, preset=None), fxkit.spherize(image))


def test_record_array_field():
    """A record's array field (the bump map's height table) as integers, as text, and refused
    at the wrong length; an inverting table gives the relief of the inverted bump map."""
    image = make_image(36, 48, 3, np.uint8)
    bump = make_image(36, 48, 1, np.uint8, seed=3)
    invert = list(range(255, -1, -1))
    by_list = fxkit.bump_map(image, bumpBitmap=bump, heightTable=invert)
    by_text = fxkit.bump_map(image, bumpBitmap=bump, heightTable=",".join(map(str, invert)))
    np.testing.assert_array_equal(by_list, by_text)
    inverted = fxkit.bump_map(image, bumpBitmap=255 - bump)
    np.testing.assert_array_equal(by_list, inverted)
    with pytest.raises(ValueError, match="256 values"):
        fxkit.bump_map(image, heightTable=[1, 2, 3])
