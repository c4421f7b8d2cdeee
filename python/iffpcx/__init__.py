"""PCX images and multi-page DCX files as numpy arrays, through libiffpcx_image.

    import iffpcx

    with iffpcx.open("scan.dcx") as f:
        for page in f:
            pixels = page.array()  # in the page's own mode: "1", "L", "P", "RGB" or "RGBA"
            rgb = page.rgb()       # (H, W, 3) uint8 with the palette applied

    iffpcx.write("out.pcx", pixels, palette=None, dpi=300)
    iffpcx.write_dcx("book.dcx", [cover, (drawing, its_palette)])

``import iffpcx.pillow`` makes Pillow read and write PCX and DCX files through
this library.
"""

import dataclasses
import io
import operator
import os
import stat

import numpy as np

from . import _iffpcx
from ._iffpcx import Error

__all__ = ["Error", "File", "Page", "Report", "Finding", "PageSummary", "open", "write", "write_dcx", "check"]
__version__ = _iffpcx.version()

# The layer's limits: 16384 x 16384 pixels a page, 2 GiB - 1 bytes, 65,535 pages.
MAX_PIXELS, MAX_FILE_BYTES, MAX_PAGES = _iffpcx.default_limits()

# A page's kind as Pillow names the mode, the form that decodes it, and the
# array it gives: (mode, form, dtype, channels; 0 for none).
_KINDS = {
    _iffpcx.KIND_BILEVEL: ("1", _iffpcx.FORM_BOOL, np.bool_, 0),
    _iffpcx.KIND_GRAY: ("L", _iffpcx.FORM_GRAY, np.uint8, 0),
    _iffpcx.KIND_INDEXED: ("P", _iffpcx.FORM_INDEX, np.uint8, 0),
    _iffpcx.KIND_RGB: ("RGB", _iffpcx.FORM_RGB, np.uint8, 3),
    _iffpcx.KIND_RGBA: ("RGBA", _iffpcx.FORM_RGBA, np.uint8, 4),
}
_HEADER_FIELDS = ("version", "encoding", "planes", "bits_per_plane", "bytes_per_line", "palette_type", "window")


def _limits(max_pixels, max_file_bytes, max_pages):
    values = []
    for name, value in (("max_pixels", max_pixels), ("max_file_bytes", max_file_bytes), ("max_pages", max_pages)):
        value = 0 if value is None else operator.index(value)
        if value < 0:
            raise ValueError(f"{name} must be 0 (none) or more, not {value}")
        values.append(value)
    return tuple(values)


def _path(source):
    """A str or PathLike as a str path, else None."""
    if isinstance(source, (str, os.PathLike)):
        return os.fsdecode(os.fspath(source))
    return None


def _whole(stream, size):
    """The rest of a regular file, size bytes by its size (more if it grew
    meanwhile), as a read-only uint8 array: numpy asks the kernel for huge
    pages for large arrays, so a large file's bytes cost a few page faults
    rather than one every 4 KiB, which is most of reading it."""
    data = np.empty(size, np.uint8)
    with memoryview(data) as view:
        got = 0
        while got < size:
            count = stream.readinto(view[got:])
            if not count:
                break
            got += count
    rest = stream.read() or b""
    if not isinstance(rest, bytes):
        raise TypeError("the file object must be opened in binary mode")
    data = np.concatenate([data[:got], np.frombuffer(rest, np.uint8)]) if rest else data[:got]
    data.flags.writeable = False  # used in place by the reader, not copied
    return data


def _regular_rest(stream):
    """The bytes left in a stream over a regular file, or None for another stream."""
    try:
        found = os.fstat(stream.fileno())
        return found.st_size - stream.tell() if stat.S_ISREG(found.st_mode) else None
    except (AttributeError, OSError, ValueError):  # no file behind it
        return None


def _file_bytes(path, most):
    """A file's bytes, or None for a file the layer reads itself: one beyond
    `most` bytes, which it refuses from its size before reading it, or one
    that is not a regular file."""
    with io.open(path, "rb", buffering=0) as stream:
        size = _regular_rest(stream)
        return _whole(stream, size) if size is not None and size <= most else None


def _read_all(stream, most):
    """A binary stream's bytes from where it stands: a regular file's whole,
    another stream's at most one past `most` (0: the format's most), so that
    the library refuses a stream beyond the limit."""
    most = most or MAX_FILE_BYTES
    size = _regular_rest(stream)
    if size is not None and 0 <= size <= most and hasattr(stream, "readinto"):
        return _whole(stream, size)
    wanted = most + 1
    chunks = []
    while wanted > 0:
        chunk = stream.read(min(wanted, 1 << 24))
        if not chunk:
            break
        if not isinstance(chunk, (bytes, bytearray)):
            raise TypeError("the file object must be opened in binary mode")
        chunks.append(chunk)
        wanted -= len(chunk)
    return b"".join(chunks)


class Page:
    """One page of a PCX or DCX file.

    width, height  pixels
    mode           "1" (bilevel), "L" (gray), "P" (palette), "RGB" or "RGBA", as Pillow names them
    palette        (N, 3) uint8 for "P" pages, else None
    dpi            (x, y) dots per inch; 0 where the header gives none
    info           the header's fields: version, encoding, planes, bits_per_plane,
                   bytes_per_line, palette_type and window (x_min, y_min, x_max, y_max)
    """

    __slots__ = ("file", "index", "width", "height", "mode", "palette", "dpi", "info", "_form", "_dtype", "_channels")

    def __init__(self, file, index, described):
        self.file = file
        self.index = index
        self.width = described["width"]
        self.height = described["height"]
        self.mode, self._form, self._dtype, self._channels = _KINDS[described["kind"]]
        palette = described["palette"]
        self.palette = np.frombuffer(palette, np.uint8).reshape(-1, 3).copy() if self.mode == "P" else None
        self.dpi = described["dpi"]
        self.info = {field: described[field] for field in _HEADER_FIELDS}

    def _shape(self, channels):
        return (self.height, self.width, channels) if channels else (self.height, self.width)

    def _decode_into(self, form, dtype, channels):
        pixels = np.empty(self._shape(channels), dtype)
        self.file._reader.decode(self.index, form, pixels)
        return pixels

    def array(self):
        """The pixels in the mode's own shape: "1" (H, W) bool (True white),
        "L" and "P" (H, W) uint8, "RGB" (H, W, 3), "RGBA" (H, W, 4)."""
        return self._decode_into(self._form, self._dtype, self._channels)

    def rgb(self):
        """(H, W, 3) uint8: colours through the palette; an RGBA page's alpha is left out."""
        return self._decode_into(_iffpcx.FORM_RGB, np.uint8, 3)

    def __repr__(self):
        return f"<iffpcx.Page {self.index} of {self.file.name!r}: {self.width} x {self.height} {self.mode}>"


class File:
    """An open PCX or DCX file: len(f) pages, f[i] and iteration give Pages.
    A context manager; one thread uses it at a time, others wait."""

    def __init__(self, reader, name):
        self._reader = reader
        self.name = name
        self.is_dcx = reader.is_dcx()
        self._count = reader.page_count()

    def __len__(self):
        return self._count

    def __getitem__(self, index):
        if isinstance(index, slice):
            return [self[k] for k in range(*index.indices(self._count))]
        index = operator.index(index)
        if index < 0:
            index += self._count
        if not 0 <= index < self._count:
            raise IndexError(f"{self.name}: no page {index} (it has {self._count})")
        return Page(self, index, self._reader.page(index))

    def __iter__(self):
        for index in range(self._count):
            yield self[index]

    def page_bytes(self, index):
        """The page's bytes as they lie in the file: a PCX file of its own."""
        return self._reader.page_bytes(self[index].index)

    def close(self):
        self._reader.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __repr__(self):
        kind = "DCX" if self.is_dcx else "PCX"
        return f"<iffpcx.File {self.name!r}: {kind}, {self._count} page{'s' if self._count != 1 else ''}>"


def open(src, *, name=None, max_pixels=MAX_PIXELS, max_file_bytes=MAX_FILE_BYTES, max_pages=MAX_PAGES):
    """Opens a PCX or DCX file: src a path, bytes, bytearray, memoryview (or
    any object with the buffer interface), or a binary file object, read to
    its end. name: how messages name bytes and streams.

    Limits are checked from the headers before anything is allocated; 0 lifts
    one up to the format's own. Raises iffpcx.Error for a file the library
    refuses, OSError for a path that cannot be read."""
    limits = _limits(max_pixels, max_file_bytes, max_pages)
    path = _path(src)
    if path is not None:
        data = _file_bytes(path, limits[1] or MAX_FILE_BYTES)
        return File(_iffpcx.open(path if data is None else data, path, limits), path)
    if hasattr(src, "read"):
        if name is None and isinstance(getattr(src, "name", None), str):
            name = src.name
        src = _read_all(src, limits[1])
    elif not isinstance(src, (bytes, bytearray, memoryview)):
        try:
            memoryview(src)
        except TypeError:
            raise TypeError(
                f"src must be a path, a bytes-like object or a binary file object, not {type(src).__name__}"
            ) from None
    return File(_iffpcx.open(src, name, limits), name if name is not None else "input")


# ---- Writing -------------------------------------------------------------------


def _palette_bytes(palette):
    colours = np.asarray(palette)
    if colours.ndim == 1 and colours.size % 3 == 0:
        colours = colours.reshape(-1, 3)
    if colours.ndim != 2 or colours.shape[1] != 3 or not 1 <= colours.shape[0] <= 256:
        raise ValueError(f"a palette is (N, 3) with N from 1 to 256, not {colours.shape}")
    if colours.dtype != np.uint8:
        if colours.dtype.kind not in "iu" or colours.min() < 0 or colours.max() > 255:
            raise ValueError("palette entries are integers from 0 to 255")
        colours = colours.astype(np.uint8)
    return colours.tobytes()


def _dpi(dpi):
    """(x, y) dots per inch from a number or a pair; (0, 0) for the default."""
    if dpi is None:
        return 0, 0
    pair = tuple(dpi) if isinstance(dpi, (tuple, list)) else (dpi, dpi)
    if len(pair) != 2:
        raise ValueError(f"dpi is a number or an (x, y) pair, not {dpi!r}")
    pair = tuple(operator.index(round(value)) for value in pair)
    if not all(1 <= value <= 65535 for value in pair):
        raise ValueError(f"dpi is 1 to 65535 dots per inch, not {dpi!r}")
    return pair


def _image(array, palette, dpi):
    """An image as the extension takes it: (pixels, width, height, form, palette, dpi_x, dpi_y)."""
    pixels = np.asarray(array)
    if pixels.dtype == np.bool_:
        if pixels.ndim != 2:
            raise ValueError(f"a bool array is a bilevel image (H, W), not {pixels.shape}")
        form = _iffpcx.FORM_BOOL
    elif pixels.dtype != np.uint8:
        raise TypeError(f"pixels are uint8 (or bool for bilevel images), not {pixels.dtype}")
    elif pixels.ndim == 2:
        form = _iffpcx.FORM_INDEX if palette is not None else _iffpcx.FORM_GRAY
    elif pixels.ndim == 3 and pixels.shape[2] in (3, 4):
        form = _iffpcx.FORM_RGB if pixels.shape[2] == 3 else _iffpcx.FORM_RGBA
    else:
        raise ValueError(f"pixels are (H, W), (H, W, 3) or (H, W, 4), not {pixels.shape}")
    if palette is not None and form != _iffpcx.FORM_INDEX:
        raise ValueError("a palette goes with (H, W) uint8 indices only")
    colours = _palette_bytes(palette) if palette is not None else None
    height, width = pixels.shape[:2]
    return (np.ascontiguousarray(pixels), width, height, form, colours) + _dpi(dpi)


def _encode(dst, images, bits, dcx):
    bits = 0 if bits is None else operator.index(bits)
    path = _path(dst)
    if path is not None:
        _iffpcx.encode(images, bits, 0, dcx, path)
    elif hasattr(dst, "write"):
        dst.write(_iffpcx.encode(images, bits, 0, dcx, None))
    else:
        raise TypeError(f"dst must be a path or a binary file object, not {type(dst).__name__}")


def write(dst, array, palette=None, dpi=None, bits=None):
    """Writes a PCX file from array: (H, W) bool (bilevel, True white), (H, W)
    uint8 gray levels, or palette indices when palette ((N, 3) uint8) is
    given, (H, W, 3) RGB or (H, W, 4) RGBA (blended onto white: PCX has no
    transparency). dpi: a number or (x, y); None gives 100.

    The layout follows the colours (black and white: 1 bit; grays: 8-bit
    gray; up to 16 colours: 4 bit planes; up to 256: 8 bits; more: 24-bit),
    or bits asks for one: 1, 2, 3 (bit planes), 4, 8 or 24; colours that do
    not fit it raise iffpcx.Error. dst: a path (the file appears complete or
    not at all) or a binary file object."""
    _encode(dst, [_image(array, palette, dpi)], bits, False)


def write_dcx(dst, pages, dpi=None, bits=None):
    """Writes a DCX file of pages: each an array as write() takes it, or an
    (array, palette) or (array, palette, dpi) tuple; dpi and bits as for
    write(), for every page that does not give its own dpi."""
    images = []
    for page in pages:
        if isinstance(page, tuple):
            if len(page) not in (2, 3):
                raise ValueError("a page is an array, or (array, palette) or (array, palette, dpi)")
            array, palette, page_dpi = page if len(page) == 3 else page + (dpi,)
        else:
            array, palette, page_dpi = page, None, dpi
        images.append(_image(array, palette, page_dpi))
    _encode(dst, images, bits, True)


# ---- Checking ------------------------------------------------------------------


@dataclasses.dataclass(frozen=True)
class Finding:
    id: str  # stable, as "PCX-BPL-ODD"
    severity: str  # "warning", "error" or "fatal"
    page: "int | None"  # None for the file as a whole
    offset: int  # the byte of the file it concerns
    message: str


@dataclasses.dataclass(frozen=True)
class PageSummary:
    index: int
    offset: int
    size: int
    data_end: int  # where its image data end (0 when they do not)
    version: int
    width: int
    height: int
    planes: int
    bits_per_plane: int
    bytes_per_line: int
    verdict: str


@dataclasses.dataclass(frozen=True)
class Report:
    file: str
    format: str  # "pcx", "dcx" or "unknown"
    format_id: str  # "fmt/86".."fmt/90", "x-fmt/348" or ""
    version: int  # the (first) page's header version, or -1
    verdict: str  # "valid", "not-valid" or "not-well-formed"
    strict: bool
    pages: list
    findings: list
    warnings: int
    errors: int
    fatals: int

    @property
    def valid(self):
        return self.verdict == "valid"


def check(src, strict=False, *, name=None, max_pixels=MAX_PIXELS, max_file_bytes=MAX_FILE_BYTES, max_pages=MAX_PAGES):
    """Judges a PCX or DCX file as archives do (src as open() takes it) and
    returns its Report: format, format_id, verdict, pages and findings. With
    strict, warnings count as errors. A broken file is a report that says
    so; only a file beyond the limits, or unreadable, raises."""
    limits = _limits(max_pixels, max_file_bytes, max_pages)
    path = _path(src)
    if path is not None:
        data = _file_bytes(path, limits[1] or MAX_FILE_BYTES)
        found = _iffpcx.check(path if data is None else data, path, strict, limits)
    else:
        if hasattr(src, "read"):
            if name is None and isinstance(getattr(src, "name", None), str):
                name = src.name
            src = _read_all(src, limits[1])
        found = _iffpcx.check(src, name, strict, limits)
    found["pages"] = [PageSummary(**page) for page in found["pages"]]
    found["findings"] = [Finding(**finding) for finding in found["findings"]]
    return Report(**found)
