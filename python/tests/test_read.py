"""Reading: every corpus page to its reference image through array() and
rgb(), the File and Page interface, every kind of source, limits and the
failures a caller sees."""

import io
import pathlib

import numpy as np
import pytest

import iffpcx
from conftest import CORPUS, reference

# Each mode's array: dtype and the channels after (H, W).
ARRAYS = {"1": (np.bool_, ()), "L": (np.uint8, ()), "P": (np.uint8, ()), "RGB": (np.uint8, (3,)), "RGBA": (np.uint8, (4,))}


def colours_of(page, pixels):
    """The RGB image an array in the page's mode stands for."""
    if page.mode == "1":
        return np.repeat(pixels[..., None] * np.uint8(255), 3, axis=2)
    if page.mode == "L":
        return np.repeat(pixels[..., None], 3, axis=2)
    if page.mode == "P":
        return page.palette[pixels]
    return pixels[..., :3]


def test_every_corpus_page_decodes_to_its_reference(corpus_page):
    path, index, ppm = corpus_page
    expected = reference(ppm)
    with iffpcx.open(path) as f:
        page = f[index]
        pixels = page.array()
        dtype, channels = ARRAYS[page.mode]
        assert pixels.dtype == dtype and pixels.shape == (page.height, page.width) + channels
        assert pixels.flags.c_contiguous and pixels.flags.writeable
        np.testing.assert_array_equal(colours_of(page, pixels), expected)
        rgb = page.rgb()
        assert rgb.dtype == np.uint8 and rgb.shape == expected.shape
        np.testing.assert_array_equal(rgb, expected)


def test_pages_describe_their_headers():
    with iffpcx.open(CORPUS / "np_window_offset.pcx") as f:
        page = f[0]
        assert (page.width, page.height, page.mode) == (77, 40, "P")
        assert page.palette.shape == (16, 3) and page.palette.dtype == np.uint8
        assert page.info == {"version": 5, "encoding": 1, "planes": 4, "bits_per_plane": 1, "bytes_per_line": 10,
                             "palette_type": 1, "window": (75, 45, 151, 84)}
    with iffpcx.open(CORPUS / "pil_rgb.pcx") as f:
        assert f[0].palette is None and f[0].dpi == (100, 100)


SOURCES = {
    "str path": lambda path: str(path),
    "Path": lambda path: pathlib.Path(path),
    "bytes": lambda path: path.read_bytes(),
    "bytearray": lambda path: bytearray(path.read_bytes()),
    "memoryview": lambda path: memoryview(path.read_bytes()),
    "numpy buffer": lambda path: np.frombuffer(path.read_bytes(), np.uint8).copy(),
    "file object": lambda path: open(path, "rb"),
    "BytesIO": lambda path: io.BytesIO(path.read_bytes()),
}


@pytest.mark.parametrize("source", SOURCES.values(), ids=SOURCES.keys())
def test_every_source_reads_the_same_pages(source):
    path = CORPUS / "np_pages.dcx"
    opened = source(path)
    with iffpcx.open(opened) as f:
        assert len(f) == 4 and f.is_dcx
        arrays = [page.rgb() for page in f]
    if hasattr(opened, "close"):
        opened.close()
    for index, pixels in enumerate(arrays):
        np.testing.assert_array_equal(pixels, reference(CORPUS / f"np_pages.p{index}.ppm"))


def test_a_changed_bytearray_does_not_change_an_open_file():
    data = bytearray((CORPUS / "np_24bit.pcx").read_bytes())
    with iffpcx.open(data) as f:
        data[128:] = bytes(len(data) - 128)
        np.testing.assert_array_equal(f[0].rgb(), reference(CORPUS / "np_24bit.ppm"))


def test_pages_are_indexed_as_a_sequence():
    with iffpcx.open(CORPUS / "np_pages.dcx") as f:
        assert [page.index for page in f] == [0, 1, 2, 3]
        assert f[-1].index == 3 and [page.index for page in f[1:3]] == [1, 2]
        for index in (4, -5):
            with pytest.raises(IndexError):
                f[index]
        with pytest.raises(TypeError):
            f["0"]


def test_page_bytes_are_a_pcx_file_of_their_own():
    with iffpcx.open(CORPUS / "im_pages.dcx") as f:
        for index in range(len(f)):
            with iffpcx.open(f.page_bytes(index)) as alone:
                assert not alone.is_dcx
                np.testing.assert_array_equal(alone[0].rgb(), f[index].rgb())


LIMITS = [
    # (limits, file, status of the failure, where it shows: "open" or "decode")
    ({"max_pixels": 129 * 40 - 1}, "np_24bit.pcx", "IFFPCX_ERR_LIMIT", "decode"),
    ({"max_file_bytes": 100}, "np_24bit.pcx", "IFFPCX_ERR_LIMIT", "open"),
    ({"max_pages": 3}, "np_pages.dcx", "IFFPCX_ERR_LIMIT", "open"),
]


@pytest.mark.parametrize("limits, name, status, stage", LIMITS)
@pytest.mark.parametrize("as_stream", [False, True], ids=["path", "stream"])
def test_limits_refuse_before_decoding(limits, name, status, stage, as_stream):
    path = CORPUS / name
    source = io.BytesIO(path.read_bytes()) if as_stream else path
    with pytest.raises(iffpcx.Error) as failure:
        with iffpcx.open(source, **limits) as f:
            assert stage == "decode"
            f[0].array()
    assert failure.value.status == status
    # Lifted (0), the same file reads.
    lifted = {key: 0 for key in limits}
    with iffpcx.open(path, **lifted) as f:
        f[0].array()


FAILURES = [
    # (source, exception, what its message says)
    ("missing.pcx", FileNotFoundError, "missing.pcx"),
    (".", IsADirectoryError, ""),
    (b"\x0a\x05\x01", iffpcx.Error, "cannot open"),
    (b"GIF89a" + bytes(200), iffpcx.Error, "does not start like a PCX"),
    (12, TypeError, "src must be"),
    (io.StringIO("text"), TypeError, "binary"),
]


@pytest.mark.parametrize("source, exception, message", FAILURES, ids=[str(f[0])[:12] for f in FAILURES])
def test_failures_raise_what_python_expects(source, exception, message, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    with pytest.raises(exception, match=message):
        iffpcx.open(source)


def test_errors_carry_the_library_message_and_where():
    data = (CORPUS / "np_24bit.pcx").read_bytes()
    with iffpcx.open(data[:400], name="cut.pcx") as f:
        with pytest.raises(iffpcx.Error) as failure:
            f[0].array()
    error = failure.value
    assert isinstance(error, ValueError)
    assert error.status == "IFFPCX_ERR_TRUNCATED" and error.page == 0 and error.line > 0
    assert str(error).startswith("cut.pcx: decoding line ")


@pytest.mark.parametrize("claimed", [0, 3, 6, 9], ids=["grew from 0", "grew", "as claimed", "shrank"])
def test_a_file_read_whole_whatever_its_size_said(claimed):
    # A regular file's size is taken before it is read; it may change meanwhile.
    data = iffpcx._whole(io.BytesIO(b"abcdef"), claimed)
    assert data.tobytes() == b"abcdef" and not data.flags.writeable
