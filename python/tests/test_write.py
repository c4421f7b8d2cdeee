"""Writing: arrays of every mode round trip through write() and write_dcx(),
the layouts bits asks for, resolutions, outputs, and the arrays refused."""

import io

import numpy as np
import pytest

import iffpcx
from conftest import CORPUS

RNG = np.random.default_rng(22)


def bands(height, width, colours):
    """(H, W) indices 0 .. colours - 1 in diagonal bands."""
    y, x = np.mgrid[0:height, 0:width]
    return ((x + 2 * y) // 3 % colours).astype(np.uint8)


def palette_of(colours):
    return RNG.integers(0, 256, (colours, 3), dtype=np.uint8)


def rgb_of(array, palette=None):
    """The RGB image write() is asked for, as rgb() reads it back."""
    if array.dtype == np.bool_:
        return np.repeat(array[..., None] * np.uint8(255), 3, axis=2)
    if array.ndim == 2:
        return palette[array] if palette is not None else np.repeat(array[..., None], 3, axis=2)
    if array.shape[2] == 4:  # blended onto white
        alpha = array[..., 3:].astype(np.uint32)
        return ((array[..., :3] * alpha + 255 * (255 - alpha) + 127) // 255).astype(np.uint8)
    return array


BILEVEL = bands(37, 53, 2).astype(bool)
GRAY = (bands(23, 101, 256) * 7 % 256).astype(np.uint8)
FEW = bands(19, 45, 11)
MANY = bands(19, 45, 200)
RGB = RNG.integers(0, 256, (17, 29, 3), dtype=np.uint8)
RGBA = RNG.integers(0, 256, (17, 29, 4), dtype=np.uint8)
WIDE = RNG.integers(0, 256, (17, 64, 3), dtype=np.uint8)
FEW_PALETTE = palette_of(11)
MANY_PALETTE = palette_of(200)

# (array, palette, the mode and header layout it reads back as: mode, planes, bits per plane)
ROUND_TRIPS = {
    "bilevel": (BILEVEL, None, "1", 1, 1),
    "gray": (GRAY, None, "L", 1, 8),
    "16 colours": (FEW, FEW_PALETTE, "P", 4, 1),
    "256 colours": (MANY, MANY_PALETTE, "P", 1, 8),
    "rgb": (RGB, None, "RGB", 3, 8),
    "rgba": (RGBA, None, "RGB", 3, 8),
    "every other column": (WIDE[:, ::2], None, "RGB", 3, 8),
}


@pytest.mark.parametrize("array, palette, mode, planes, bits", ROUND_TRIPS.values(), ids=ROUND_TRIPS.keys())
def test_arrays_round_trip_through_write(array, palette, mode, planes, bits, tmp_path):
    path = tmp_path / "out.pcx"
    iffpcx.write(path, array, palette=palette, dpi=(300, 150))
    with iffpcx.open(path) as f:
        page = f[0]
        assert (page.mode, page.info["planes"], page.info["bits_per_plane"]) == (mode, planes, bits)
        assert page.dpi == (300, 150)
        np.testing.assert_array_equal(page.rgb(), rgb_of(np.asarray(array), palette))
        if mode in ("1", "L"):
            np.testing.assert_array_equal(page.array(), array)


# --bits as pcxtool takes it: (bits, image, palette, planes, bits per plane)
LAYOUTS = [
    (1, BILEVEL, None, 1, 1),
    (2, bands(9, 21, 4), palette_of(4), 1, 2),
    (3, bands(9, 21, 8), palette_of(8), 3, 1),
    (4, FEW, FEW_PALETTE, 4, 1),
    (8, FEW, FEW_PALETTE, 1, 8),
    (24, FEW, FEW_PALETTE, 3, 8),
]


@pytest.mark.parametrize("bits, array, palette, planes, bits_per_plane", LAYOUTS)
def test_bits_asks_for_a_layout(bits, array, palette, planes, bits_per_plane):
    out = io.BytesIO()
    iffpcx.write(out, array, palette=palette, bits=bits)
    with iffpcx.open(out.getvalue()) as f:
        assert (f[0].info["planes"], f[0].info["bits_per_plane"]) == (planes, bits_per_plane)
        np.testing.assert_array_equal(f[0].rgb(), rgb_of(array, palette))


def test_colours_that_do_not_fit_the_bits_asked_leave_no_file(tmp_path):
    path = tmp_path / "out.pcx"
    with pytest.raises(iffpcx.Error) as failure:
        iffpcx.write(path, RGB, bits=4)
    assert failure.value.status == "IFFPCX_ERR_COLOURS"
    assert list(tmp_path.iterdir()) == []


def test_pages_of_every_kind_round_trip_through_write_dcx(tmp_path):
    pages = [BILEVEL, (MANY, MANY_PALETTE), (FEW, FEW_PALETTE, 72), GRAY, RGBA]
    path = tmp_path / "book.dcx"
    iffpcx.write_dcx(path, pages, dpi=200)
    with iffpcx.open(path) as f:
        assert f.is_dcx and len(f) == len(pages)
        assert [page.mode for page in f] == ["1", "P", "P", "L", "RGB"]
        assert [page.dpi for page in f] == [(200, 200), (200, 200), (72, 72), (200, 200), (200, 200)]
        for page, given in zip(f, pages):
            array, palette = (given[0], given[1]) if isinstance(given, tuple) else (given, None)
            np.testing.assert_array_equal(page.rgb(), rgb_of(array, palette))


REFUSED = [
    # (array, keyword arguments, exception, what the message says)
    (np.zeros((4, 4), np.float32), {}, TypeError, "uint8"),
    (np.zeros((4, 4, 2), np.uint8), {}, ValueError, "(H, W, 3)"),
    (np.zeros((4,), np.uint8), {}, ValueError, "(H, W, 3)"),
    (np.zeros((4, 4, 4), bool), {}, ValueError, "bilevel"),
    (np.zeros((4, 4, 3), np.uint8), {"palette": [[0, 0, 0]]}, ValueError, "palette goes with"),
    (np.zeros((4, 4), np.uint8), {"palette": np.zeros((2, 2), np.uint8)}, ValueError, "palette is"),
    (np.zeros((4, 4), np.uint8), {"palette": np.zeros((257, 3), np.uint8)}, ValueError, "palette is"),
    (np.zeros((4, 4), np.uint8), {"palette": [[0, 0, 300]]}, ValueError, "0 to 255"),
    (np.full((4, 4), 5, np.uint8), {"palette": [[0, 0, 0]]}, iffpcx.Error, "beyond the palette"),
    (np.zeros((0, 4), np.uint8), {}, iffpcx.Error, "1 to 65535"),
    (np.zeros((1, 70000), np.uint8), {}, iffpcx.Error, "1 to 65535"),
    (np.zeros((4, 4), np.uint8), {"bits": 5}, iffpcx.Error, "bits must be"),
    (np.zeros((4, 4), np.uint8), {"dpi": (1, 2, 3)}, ValueError, "dpi"),
    (np.zeros((4, 4), np.uint8), {"dpi": 70000}, ValueError, "1 to 65535"),
    (np.zeros((4, 4), np.uint8), {"dpi": (300, 0)}, ValueError, "1 to 65535"),
]


@pytest.mark.parametrize("array, options, exception, message", REFUSED)
def test_arrays_the_writer_refuses(array, options, exception, message):
    with pytest.raises(exception, match=message):
        iffpcx.write(io.BytesIO(), array, **options)


def test_outputs_that_are_not_writable(tmp_path):
    with pytest.raises(OSError):
        iffpcx.write(tmp_path / "no" / "such" / "folder.pcx", GRAY)
    with pytest.raises(TypeError, match="dst must be"):
        iffpcx.write(42, GRAY)
    with pytest.raises(ValueError, match="at least one page"):
        iffpcx.write_dcx(io.BytesIO(), [])
    with pytest.raises(ValueError, match="a page is"):
        iffpcx.write_dcx(io.BytesIO(), [(GRAY,)])
