"""Hostile input: the kept fuzz inputs and damaged copies of them decode or
raise iffpcx.Error (never another exception, never a crash), through the
package, the Pillow plugin and check(); the extension refuses arguments
that make no sense."""

import io

import numpy as np
import pytest
from PIL import Image, UnidentifiedImageError

import iffpcx
import iffpcx.pillow
from conftest import CORPUS, fuzz_inputs
from iffpcx import _iffpcx

FORMS = [_iffpcx.FORM_INDEX, _iffpcx.FORM_GRAY, _iffpcx.FORM_RGB, _iffpcx.FORM_RGBA, _iffpcx.FORM_BITS,
         _iffpcx.FORM_BOOL]


def read_everything(data):
    """Opens, describes and decodes every page in every form and checks the
    file; the outcome of each step: "ok" or the iffpcx.Error's status."""
    outcomes = []
    try:
        with iffpcx.open(data, max_pixels=1 << 22) as f:
            for index in range(len(f)):
                try:
                    page = f[index]
                    page.array()
                    page.rgb()
                    outcomes.append("ok")
                except iffpcx.Error as error:
                    outcomes.append(error.status)
                for form in FORMS:  # partial: the rows a page cut short still gives
                    try:
                        f._reader.decode(index, form, None, True)
                    except ValueError:  # iffpcx.Error, or a form the page cannot give
                        pass
    except iffpcx.Error as error:
        outcomes.append(error.status)
    iffpcx.check(data, max_pixels=1 << 22)
    return outcomes


def read_through_pillow(data):
    try:
        with Image.open(io.BytesIO(data)) as image:
            for frame in range(getattr(image, "n_frames", 1)):
                try:
                    image.seek(frame)
                    image.load()
                except (OSError, iffpcx.Error):
                    pass
    except UnidentifiedImageError:
        pass


def damaged(data):
    """Copies of data cut short and with header and directory bytes changed."""
    step = max(1, len(data) // 40)
    for size in range(0, len(data), step):
        yield data[:size]
    for offset in range(min(len(data), 140)):
        for value in (0x00, 0xFF, data[offset] ^ 0x01):
            yield data[:offset] + bytes([value]) + data[offset + 1 :]


INPUTS = fuzz_inputs()


@pytest.mark.parametrize("path", INPUTS, ids=[f"{p.parent.parent.name}/{p.parent.name}/{p.name}" for p in INPUTS])
def test_kept_fuzz_inputs_decode_or_raise_iffpcx_error(path):
    data = path.read_bytes()
    outcomes = read_everything(data)
    if data[:1] != b"\x0a" and data[:4] != (987654321).to_bytes(4, "little"):
        assert outcomes == ["IFFPCX_ERR_NOT_PCX"]
    read_through_pillow(data)


@pytest.mark.parametrize("name", ["np_pages.dcx", "np_1bit_3planes.pcx", "np_8bit.pcx", "pil_rgb.pcx"])
def test_damaged_files_decode_or_raise_iffpcx_error(name):
    for data in damaged((CORPUS / name).read_bytes()):
        read_everything(data)
        read_through_pillow(data)


def reader():
    return _iffpcx.open(str(CORPUS / "np_24bit.pcx"), None, _iffpcx.default_limits())


NONSENSE = [
    # (call, exception)
    (lambda: _iffpcx.open(123, None, _iffpcx.default_limits()), TypeError),
    (lambda: _iffpcx.open(b"", None, (-1, 0, 0)), OverflowError),
    (lambda: _iffpcx.open(b"", None, (0, 0, 1 << 40)), OverflowError),
    (lambda: _iffpcx.Reader(), TypeError),
    (lambda: reader().decode(0, 99), ValueError),
    (lambda: reader().decode(0, _iffpcx.FORM_INDEX), ValueError),
    (lambda: reader().decode(0, _iffpcx.FORM_RGB, bytearray(3)), ValueError),
    (lambda: reader().decode(0, _iffpcx.FORM_RGB, bytes(129 * 40 * 3)), BufferError),
    (lambda: reader().decode(0, _iffpcx.FORM_RGB, np.empty((40, 129, 6), np.uint8)[..., ::2]), (BufferError, ValueError)),
    (lambda: reader().decode(-1, _iffpcx.FORM_RGB), IndexError),
    (lambda: reader().decode(1 << 40, _iffpcx.FORM_RGB), IndexError),
    (lambda: reader().page(1), iffpcx.Error),
    (lambda: _iffpcx.encode([(b"\0" * 4, 2, 2, 2, None, 0, 0)] * 2, 0, 0, False, None), ValueError),
    (lambda: _iffpcx.encode([(b"\0" * 3, 2, 2, 2, None, 0, 0)], 0, 0, False, None), ValueError),
    (lambda: _iffpcx.encode([(b"\0" * 4, 2, 2, 99, None, 0, 0)], 0, 0, False, None), iffpcx.Error),
    (lambda: _iffpcx.encode([(b"\0" * 4, 2, 2, _iffpcx.FORM_INDEX, b"\0\0", 0, 0)], 0, 0, False, None), ValueError),
    (lambda: _iffpcx.encode([(b"\0" * 4, 2, 2, _iffpcx.FORM_INDEX, None, 0, 0)], 0, 0, False, None), iffpcx.Error),
    (lambda: _iffpcx.encode([(b"\0" * 4, 2, 2, 2, None, -5, 1 << 20)], 0, 0, False, None), ValueError),
    (lambda: _iffpcx.encode([(b"\0" * 4, 2, 2, 2, None, 300, 65536)], 0, 0, False, None), ValueError),
    (lambda: _iffpcx.check(object(), None, False, (0, 0, 0)), TypeError),
]


@pytest.mark.parametrize("call, exception", NONSENSE)
def test_the_extension_refuses_nonsense(call, exception):
    with pytest.raises(exception):
        call()


def test_a_closed_reader_refuses_every_call():
    closed = reader()
    closed.close()
    for call in (closed.page_count, closed.is_dcx, lambda: closed.page(0), lambda: closed.check_page(0),
                 lambda: closed.decode(0, _iffpcx.FORM_RGB), lambda: closed.page_bytes(0)):
        with pytest.raises(ValueError, match="closed"):
            call()
