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
        "Style": "0x35", "RedPeriod": "40", "GreenPeriod": "70", "BluePeriod": "0",
        "ImagePercent": "20"}
    words = fxkit._preset_keywords("lights[1].X=5 lights[0].Y=-2 info.Level=3 i=4 center=1,2")
    got = received(**words)
    assert (got["i"], got["center"]) == (4, (1, 2))
    assert got["info"] == info_bytes(level=3)
    assert got["lights"] == light_bytes(y=-2) + light_bytes(x=5)
    with pytest.raises(ValueError):
        fxkit.preset("swirl", "no-such-preset")
