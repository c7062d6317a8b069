"""Arrays in and out: the bitmap format each dtype and shape maps to, the copy and in-place
forms, strides, regions and arguments the module refuses."""
import numpy as np
import pytest

import fxkit
from conftest import make_image

probe = fxkit._make_function(fxkit._core.describe_probe())

# Widths whose rows are a multiple of 4 bytes wrap the result's rows; the others go through a
# bitmap of the module's own. Both must give the same pixels.
SHAPES = [(31, 45), (36, 48)]
LAYOUTS = [(1, np.uint8, 8, 2), (1, np.uint16, 16, 2), (3, np.uint8, 24, 1),
           (3, np.uint16, 48, 1), (4, np.uint8, 32, 1), (4, np.uint16, 64, 1)]


@pytest.mark.parametrize("height,width", SHAPES)
@pytest.mark.parametrize("channels,dtype,bits,order", LAYOUTS)
def test_round_trip(height, width, channels, dtype, bits, order):
    image = make_image(height, width, channels, dtype)
    kept = image.copy()
    result = probe(image)
    got = fxkit._core.probe_last()
    assert (got["width"], got["height"], got["bits_per_pixel"], got["order"]) == (width, height,
                                                                                 bits, order)
    assert result is not image and result.dtype == image.dtype and result.flags.c_contiguous
    np.testing.assert_array_equal(result, image)
    np.testing.assert_array_equal(image, kept)
    assert probe(image, out=image) is image
    np.testing.assert_array_equal(image, kept)


@pytest.mark.parametrize("height,width", SHAPES)
@pytest.mark.parametrize("channels,dtype", [(1, np.uint8), (3, np.uint16), (4, np.uint8)])
def test_copy_and_in_place_forms_agree(height, width, channels, dtype):
    image = make_image(height, width, channels, dtype)
    expected = fxkit.swirl(image, angle=900)
    assert not np.array_equal(expected, image)

    out = np.zeros_like(image)
    assert fxkit.swirl(image, angle=900, out=out) is out
    np.testing.assert_array_equal(out, expected)

    in_place = image.copy()
    fxkit.swirl(in_place, angle=900, out=in_place)
    np.testing.assert_array_equal(in_place, expected)

    # Non-contiguous inputs read the same pixels.
    np.testing.assert_array_equal(fxkit.swirl(np.asfortranarray(image), angle=900), expected)
    wide = np.zeros((height, width * 2) + image.shape[2:], dtype)
    wide[:, ::2] = image
    np.testing.assert_array_equal(fxkit.swirl(wide[:, ::2], angle=900), expected)

    # An out= that overlaps the image one row further on.
    row = image[0].size
    buffer = np.zeros(image.size + row, dtype)
    source = buffer[:image.size].reshape(image.shape)
    source[...] = image
    target = buffer[row:].reshape(image.shape)
    fxkit.swirl(source, angle=900, out=target)
    np.testing.assert_array_equal(target, expected)


def test_colour_is_red_green_blue():
    """Fill colours are COLORREF (red in the low byte) and land on the first sample."""
    corner = fxkit.polar(make_image(36, 48, 3, np.uint8), fillColor="#FF8000")[0, 0]
    assert corner.tolist() == [0xFF, 0x80, 0]
    red, green, blue = fxkit.polar(make_image(36, 48, 3, np.uint16), fillColor="#FF8000")[0, 0]
    assert red > green > blue == 0


def test_resizing_effects_return_a_new_size():
    image = make_image(36, 48, 3, np.uint8)
    result = fxkit.intelligent_down_scale(image, newWidth=40, newHeight=30)
    assert result.shape == (30, 40, 3)
    with pytest.raises(ValueError):
        fxkit.intelligent_down_scale(image, out=image)


@pytest.mark.parametrize("image,error", [
    (np.zeros((8, 8), np.float32), TypeError),
    (np.zeros((8, 8), np.int16), TypeError),
    (np.zeros((8, 8), np.dtype(">u2")), TypeError),
    ([[0, 1], [2, 3]], TypeError),
    (np.zeros((8, 8, 2), np.uint8), ValueError),
    (np.zeros(8, np.uint8), ValueError),
    (np.zeros((0, 8), np.uint8), ValueError),
])
def test_images_refused(image, error):
    with pytest.raises(error):
        fxkit.swirl(image)


@pytest.mark.parametrize("out,error", [
    (np.zeros((36, 48, 3), np.uint16), ValueError),
    (np.zeros((36, 48), np.uint8), ValueError),
    (np.zeros((36, 48, 4), np.uint8), ValueError),
    (np.zeros((48, 36, 3), np.uint8).transpose(1, 0, 2), ValueError),
    (np.zeros((36, 48, 3), np.float64), TypeError),
])
def test_out_refused(out, error):
    with pytest.raises(error):
        fxkit.swirl(make_image(36, 48, 3, np.uint8), out=out)


def test_read_only_out_refused():
    readonly = make_image(36, 48, 3, np.uint8)
    readonly.flags.writeable = False
    with pytest.raises(ValueError):
        fxkit.swirl(readonly, out=readonly)


def test_regions_match_the_command_line(cli):
    image = make_image(36, 48, 3, np.uint8)
    mask = np.zeros((36, 48), bool)
    mask[5:30, 10:20] = True
    mask[12, 30:45] = True
    cases = [
        ((10, 4, 30, 25), ["--region=30x25+10+4"]),
        ((-5, -5, 20, 20), ["--region=20x20-5-5"]),  # clipped to the image
        (mask, ["--region-mask=" + _mask_file(cli, mask)]),
    ]
    for region, options in cases:
        result = fxkit.swirl(image, angle=2000, region=region)
        np.testing.assert_array_equal(result, cli.apply("swirl", image, ["angle=2000"], options))
        inside = np.zeros((36, 48), bool)
        if isinstance(region, np.ndarray):
            inside = region
        else:
            x, y, w, h = region
            inside[max(y, 0):y + h, max(x, 0):x + w] = True
        np.testing.assert_array_equal(result[~inside], image[~inside])
        assert not np.array_equal(result[inside], image[inside])


def _mask_file(cli, mask):
    from conftest import write_pnm
    path = cli.directory + "/mask.pgm"
    write_pnm(path, mask.astype(np.uint8) * 255)
    return path


@pytest.mark.parametrize("region,error", [
    ((100, 100, 5, 5), ValueError),   # outside the image
    ((0, 0, 0, 5), ValueError),
    ((0, 0, 5), TypeError),
    ("0,0,5,5", TypeError),
    (np.zeros((36, 48), bool), ValueError),  # selects nothing
    (np.ones((36, 47), bool), ValueError),
    (np.ones((36, 48), np.uint8), TypeError),
])
def test_regions_refused(region, error):
    with pytest.raises(error):
        fxkit.swirl(make_image(36, 48, 3, np.uint8), region=region)
