"""The Pillow plugin: Image.open reads every corpus page (those stock Pillow
misreads too), frames of DCX files, resolution; save writes PCX and DCX."""

import io
import shutil

import numpy as np
import pytest
from PIL import Image, ImageFile, UnidentifiedImageError

import iffpcx
import iffpcx.pillow
from conftest import CORPUS, corpus_pages, page_id, reference, stock_pillow_misreads


def opened_frame(path, index):
    image = Image.open(path)
    assert isinstance(image, iffpcx.pillow.IffpcxImageFile)
    image.seek(index)
    return image


def test_every_corpus_page_opens_as_its_reference(corpus_page):
    path, index, ppm = corpus_page
    with opened_frame(path, index) as image:
        assert image.format == path.suffix[1:].upper()
        with iffpcx.open(path) as f:
            assert (image.mode, image.size) == (f[index].mode, (f[index].width, f[index].height))
            assert image.info["dpi"] == f[index].dpi
        np.testing.assert_array_equal(np.asarray(image.convert("RGB")), reference(ppm))


MISREAD = [case for case in corpus_pages() if case[0] in stock_pillow_misreads()]


@pytest.mark.parametrize("path, index, ppm", MISREAD, ids=[page_id(case) for case in MISREAD])
def test_files_stock_pillow_misreads_read_right(path, index, ppm):
    with opened_frame(path, index) as image:
        np.testing.assert_array_equal(np.asarray(image.convert("RGB")), reference(ppm))


def test_frames_of_a_dcx_file_in_any_order():
    with Image.open(CORPUS / "np_pages.dcx") as image:
        assert (image.n_frames, image.is_animated, image.tell()) == (4, True, 0)
        for index in (3, 0, 2, 2, 1, 3):
            image.seek(index)
            assert image.tell() == index
            np.testing.assert_array_equal(np.asarray(image.convert("RGB")), reference(CORPUS / f"np_pages.p{index}.ppm"))
        with pytest.raises(EOFError):
            image.seek(4)
    with Image.open(CORPUS / "np_24bit.pcx") as image:
        assert (image.n_frames, image.is_animated) == (1, False)


def test_recognised_by_content_not_name(tmp_path):
    for name in ("np_8bit.pcx", "im_pages.dcx"):
        renamed = tmp_path / "scan.bin"
        shutil.copy(CORPUS / name, renamed)
        with Image.open(renamed) as image:
            assert image.format == name[-3:].upper()
        with Image.open(io.BytesIO(renamed.read_bytes()), formats=[name[-3:].upper()]) as image:
            image.load()


def test_a_dcx_file_of_more_than_1024_pages():
    out = io.BytesIO()
    iffpcx.write_dcx(out, [np.full((2, 3), k % 256, np.uint8) for k in range(1100)])
    with Image.open(io.BytesIO(out.getvalue())) as image:
        assert image.n_frames == 1100
        image.seek(1099)
        assert image.getpixel((0, 0)) == 1099 % 256


def test_a_page_whose_data_end_early():
    cut = (CORPUS / "np_24bit.pcx").read_bytes()[:1000]
    with Image.open(io.BytesIO(cut)) as image:
        with pytest.raises(OSError, match="decoding line"):
            image.load()
    ImageFile.LOAD_TRUNCATED_IMAGES = True
    try:
        with Image.open(io.BytesIO(cut)) as image:
            pixels = np.asarray(image)
    finally:
        ImageFile.LOAD_TRUNCATED_IMAGES = False
    expected = reference(CORPUS / "np_24bit.ppm")
    assert (pixels[-1] == 0).all() and (pixels[0] == expected[0]).all()


def test_files_iffpcx_refuses_are_not_identified():
    for data in (b"\x0a\x05\x01\x08" + bytes(20), b"\x0a" + b"text that only starts like one" * 10):
        with pytest.raises(UnidentifiedImageError):
            Image.open(io.BytesIO(data))


def blended(image):
    return np.asarray(Image.alpha_composite(Image.new("RGBA", image.size, "white"), image.convert("RGBA")).convert("RGB"))


rng = np.random.default_rng(7)
NOISE = rng.integers(0, 256, (21, 34, 4), dtype=np.uint8)
P_IMAGE = Image.fromarray(rng.integers(0, 12, (21, 34), dtype=np.uint8), "L").convert("P")
P_IMAGE.putpalette(rng.integers(0, 256, 36).tolist())
P_TRANSPARENT = P_IMAGE.copy()
P_TRANSPARENT.info["transparency"] = 3

# (image to save, the RGB image the file reads back as, the mode it reads back in)
SAVES = {
    "1": (Image.fromarray(NOISE[..., 0] > 127), None, "1"),
    "L": (Image.fromarray(NOISE[..., 0]), None, "L"),
    "P": (P_IMAGE, None, "P"),
    "P with transparency": (P_TRANSPARENT, blended(P_TRANSPARENT.convert("RGBA")), "P"),
    "RGB": (Image.fromarray(NOISE[..., :3]), None, "RGB"),
    "RGBA": (Image.fromarray(NOISE), blended(Image.fromarray(NOISE)), "RGB"),
    "LA": (Image.fromarray(NOISE[..., :2], "LA"), blended(Image.fromarray(NOISE[..., :2], "LA")), "L"),
    "CMYK": (Image.fromarray(NOISE, "CMYK"), np.asarray(Image.fromarray(NOISE, "CMYK").convert("RGB")), "RGB"),
}


@pytest.mark.parametrize("image, expected, mode", SAVES.values(), ids=SAVES.keys())
def test_images_of_every_mode_save_as_pcx(image, expected, mode, tmp_path):
    path = tmp_path / "saved.pcx"
    image.save(path, dpi=(300, 200))
    if expected is None:
        expected = np.asarray(image.convert("RGB"))
    with iffpcx.open(path) as f:
        assert f[0].dpi == (300, 200)
        np.testing.assert_array_equal(f[0].rgb(), expected)
    with Image.open(path) as again:
        assert again.mode == mode
        np.testing.assert_array_equal(np.asarray(again.convert("RGB")), expected)


def test_modes_pcx_cannot_hold_are_refused(tmp_path):
    with pytest.raises(ValueError, match="Cannot save I;16"):
        Image.new("I;16", (4, 4)).save(tmp_path / "deep.pcx")


def test_save_all_writes_every_frame_as_a_dcx_file(tmp_path):
    path = tmp_path / "book.dcx"
    extra = [SAVES["1"][0], SAVES["RGB"][0]]
    with Image.open(CORPUS / "np_pages.dcx") as source:
        source.seek(2)
        source.save(path, save_all=True, append_images=extra)
        assert source.tell() == 2
        expected = [reference(CORPUS / f"np_pages.p{k}.ppm") for k in range(4)]
    expected += [np.asarray(image.convert("RGB")) for image in extra]
    with Image.open(path) as image:
        assert (image.format, image.n_frames) == ("DCX", 6)
        for index, rgb in enumerate(expected):
            image.seek(index)
            np.testing.assert_array_equal(np.asarray(image.convert("RGB")), rgb)
    SAVES["L"][0].save(path)
    with iffpcx.open(path) as f:
        assert f.is_dcx and len(f) == 1
