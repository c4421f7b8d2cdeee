"""A Pillow plugin: ``import iffpcx.pillow`` and Pillow reads PCX and DCX files
through iffpcx, and writes them.

    from PIL import Image
    import iffpcx.pillow

    with Image.open("fax.dcx") as im:        # recognised by content
        for k in range(im.n_frames):
            im.seek(k)
            im.convert("RGB").save(f"page{k}.png", dpi=im.info["dpi"])
    im.save("copy.pcx")
    first.save("book.dcx", save_all=True, append_images=[second, third])

The plugin takes Pillow's PCX and DCX entries (it is asked before any other
format). A file that iffpcx refuses at open is not identified (Pillow raises
UnidentifiedImageError); one whose pixels fail to decode raises OSError on
load, with the library's message, unless ImageFile.LOAD_TRUNCATED_IMAGES
keeps a page whose data end early, its missing rows black (index 0).
"""

import numpy as np
from PIL import Image, ImageFile, ImagePalette, ImageSequence

import iffpcx
from iffpcx import _iffpcx

_DCX_SIGNATURE = (987654321).to_bytes(4, "little")

# Pillow's mode, the form that decodes it and the raw mode Pillow reads it in.
_DECODING = {
    "1": (_iffpcx.FORM_BITS, "1;I"),  # packed, 1 for black
    "L": (_iffpcx.FORM_GRAY, "L"),
    "P": (_iffpcx.FORM_INDEX, "P"),
    "RGB": (_iffpcx.FORM_RGB, "RGB"),
    "RGBA": (_iffpcx.FORM_RGBA, "RGBA"),
}


def _accept_pcx(prefix):
    return prefix[:1] == b"\x0a"


def _accept_dcx(prefix):
    return prefix[:4] == _DCX_SIGNATURE


# Pillow 10.1 made mode a read-only property over _mode; 9.4 has a plain attribute.
_MODE_IS_PROPERTY = isinstance(getattr(Image.Image, "mode", None), property)
# Tiles are named tuples since Pillow 11; plain tuples before.
_tile = getattr(ImageFile, "_Tile", lambda *fields: fields)


class IffpcxImageFile(ImageFile.ImageFile):
    """PCX and DCX files read through iffpcx; each page of a DCX file a frame."""

    format = "PCX"
    format_description = "PCX or DCX image (iffpcx)"
    _close_exclusive_fp_after_loading = False  # later frames read from the same file

    def _open(self):
        data = iffpcx._read_all(self.fp, iffpcx.MAX_FILE_BYTES)
        name = self.filename if isinstance(self.filename, str) and self.filename else None
        try:
            self._pages = iffpcx.open(data, name=name)
        except iffpcx.Error as error:
            raise SyntaxError(str(error)) from error
        if self._pages.is_dcx:
            self.format = "DCX"
        self._fp = self.fp  # Pillow closes it with the image
        self._frame = -1
        try:
            self._select(0)
        except iffpcx.Error as error:
            raise SyntaxError(str(error)) from error

    @property
    def n_frames(self):
        return len(self._pages)

    @property
    def is_animated(self):
        return len(self._pages) > 1

    def seek(self, frame):
        if not self._seek_check(frame):
            return
        self._select(frame)

    def tell(self):
        return self._frame

    def _select(self, frame):
        page = self._pages[frame]
        self._pages._reader.check_page(frame)  # a page that cannot be decoded fails here, not at load
        if self._frame >= 0:
            self.im = None  # the next load makes the image anew, in this page's size and mode
        self._frame = frame
        self.fp = self._fp  # a load lets go of fp; each frame takes it again
        if _MODE_IS_PROPERTY:
            self._mode = page.mode
        else:
            self.mode = page.mode
        self._size = (page.width, page.height)
        self.palette = ImagePalette.raw("RGB", page.palette.tobytes()) if page.mode == "P" else None
        self.info["dpi"] = page.dpi
        self.tile = [_tile("iffpcx", (0, 0, page.width, page.height), 0, (self._pages, frame))]

    def close(self):
        self._pages.close()
        super().close()


class _PageDecoder(ImageFile.PyDecoder):
    """Decodes a whole page at once from the file iffpcx holds open."""

    _pulls_fd = True

    def decode(self, buffer):
        pages, frame = self.args
        form, rawmode = _DECODING[self.mode]
        try:
            rows = pages._reader.decode(frame, form, None, ImageFile.LOAD_TRUNCATED_IMAGES)
        except iffpcx.Error as error:
            raise OSError(str(error)) from error
        self.set_as_raw(rows, rawmode)
        return -1, 0


# ---- Writing -------------------------------------------------------------------

# Modes written as another: Pillow converts them first.
_CONVERTED = {"LA": "RGBA", "PA": "RGBA", "La": "RGBA", "RGBa": "RGBA", "RGBX": "RGB", "CMYK": "RGB", "YCbCr": "RGB",
              "LAB": "RGB", "HSV": "RGB"}


def _page(im, encoderinfo):
    """An image as iffpcx.write_dcx takes a page: (array, palette, dpi)."""
    mode = im.mode
    if "transparency" in im.info and mode in ("1", "L", "P", "RGB"):
        mode = "RGBA"  # blended onto white, as PCX has no transparency
    mode = _CONVERTED.get(mode, mode)
    if mode not in ("1", "L", "P", "RGB", "RGBA"):
        raise ValueError(f"Cannot save {im.mode} images as PCX")
    if mode != im.mode:
        im = im.convert(mode)
    palette = None
    if mode == "1":
        pixels = np.asarray(im.convert("L")) != 0
    else:
        pixels = np.asarray(im)
        if mode == "P":
            palette = im.getpalette("RGB")
            if palette is None:
                palette = [level for level in range(256) for _ in range(3)]
    dpi = encoderinfo.get("dpi", im.info.get("dpi"))
    if dpi is not None and not all(1 <= round(value) <= 65535 for value in dpi):
        dpi = None  # a resolution the header cannot hold: the library's default
    return pixels, palette, dpi


def _frames(images):
    """Every frame of each image, each image left at the frame it was at."""
    for image in images:
        current = image.tell()
        try:
            yield from ImageSequence.Iterator(image)
        finally:
            image.seek(current)


def _save(im, fp, filename):
    array, palette, dpi = _page(im, im.encoderinfo)
    iffpcx.write(fp, array, palette=palette, dpi=dpi, bits=im.encoderinfo.get("bits"))


def _save_dcx(im, fp, filename):
    iffpcx.write_dcx(fp, [_page(im, im.encoderinfo)], bits=im.encoderinfo.get("bits"))


def _save_all_dcx(im, fp, filename):
    images = [im] + list(im.encoderinfo.get("append_images", []))
    pages = [_page(frame, im.encoderinfo) for frame in _frames(images)]
    iffpcx.write_dcx(fp, pages, bits=im.encoderinfo.get("bits"))


def _register():
    Image.init()  # Pillow's own plugins first, so that nothing loaded later replaces these entries
    Image.register_decoder("iffpcx", _PageDecoder)
    for format_id, accept in (("PCX", _accept_pcx), ("DCX", _accept_dcx)):
        Image.register_open(format_id, IffpcxImageFile, accept)
        # Asked first: some formats take any file they are shown and look later.
        Image.ID.remove(format_id)
        Image.ID.insert(0, format_id)
        Image.register_extension(format_id, "." + format_id.lower())
        Image.register_mime(format_id, "image/x-" + format_id.lower())
    Image.register_save("PCX", _save)
    Image.register_save("DCX", _save_dcx)
    Image.register_save_all("DCX", _save_all_dcx)


_register()
