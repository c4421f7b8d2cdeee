#!/usr/bin/env python3
"""Reads TIFF pages with another program and compares them with reference
images: each page's pixels exactly, and its resolution.

usage: check_readers.py pillow MANIFEST
       check_readers.py magick MANIFEST CONVERT

MANIFEST lines: TIFF-FILE PAGE REFERENCE-PPM DPI-X DPI-Y (0: none given).
Exit status: 0 every page read exactly, 1 a page differed or failed to
read, 77 the reader is not available.
"""
import subprocess
import sys


def read_ppm(path):
    """(width, height, RGB bytes) of a binary PPM with maxval 255."""
    data = open(path, "rb").read()
    fields, at = [], 2
    while len(fields) < 3:
        while data[at:at + 1].isspace():
            at += 1
        if data[at:at + 1] == b"#":
            at = data.index(b"\n", at) + 1
            continue
        start = at
        while not data[at:at + 1].isspace():
            at += 1
        fields.append(int(data[start:at]))
    return fields[0], fields[1], data[at + 1:at + 1 + 3 * fields[0] * fields[1]]


def pillow_page(tiff, page):
    """(width, height, RGB bytes, (dpi x, dpi y)) as Pillow reads the page."""
    from PIL import Image
    with Image.open(tiff) as image:
        image.seek(page)
        # Pillow 9.4 keeps an earlier palette page's palette when it seeks to
        # a page of another mode, and then fails to load it.
        if image.mode not in ("P", "PA"):
            image.palette = None
        # Pillow reports (1, 1) dpi for a page without resolution tags.
        dpi = image.info.get("dpi", (0, 0)) if 282 in image.tag_v2 else (0, 0)
        return image.width, image.height, image.convert("RGB").tobytes(), (round(dpi[0]), round(dpi[1]))


def magick_page(convert, tiff, page):
    """The same as ImageMagick's convert reads it."""
    source = "%s[%d]" % (tiff, page)
    pixels = subprocess.run([convert, source, "-depth", "8", "rgb:-"], check=True, capture_output=True).stdout
    size = subprocess.run([convert, source, "-format", "%w %h %x %y %U", "info:"], check=True,
                          capture_output=True, text=True).stdout.split()
    width, height = int(size[0]), int(size[1])
    dpi = (round(float(size[2])), round(float(size[3]))) if size[4] == "PixelsPerInch" else (0, 0)
    return width, height, pixels, dpi


def main():
    if len(sys.argv) < 3 or sys.argv[1] not in ("pillow", "magick"):
        print(__doc__)
        return 2
    peer = sys.argv[1]
    if peer == "pillow":
        try:
            import PIL  # noqa: F401
        except ImportError:
            print("Pillow is not installed: skipped")
            return 77
        read = pillow_page
    else:
        convert = sys.argv[3]
        read = lambda tiff, page: magick_page(convert, tiff, page)  # noqa: E731
    failures, pages = 0, 0
    for line in open(sys.argv[2]):
        tiff, page, ppm, dpi_x, dpi_y = line.split()
        pages += 1
        label = "%s page %s" % (tiff, page)
        try:
            width, height, rgb, dpi = read(tiff, int(page))
        except Exception as error:  # a reader that fails is a finding, not a crash of the check
            print("%s: %s cannot read it: %s" % (label, peer, error))
            failures += 1
            continue
        want_width, want_height, want_rgb = read_ppm(ppm)
        if (width, height) != (want_width, want_height):
            print("%s: %s reads %dx%d, not %dx%d" % (label, peer, width, height, want_width, want_height))
            failures += 1
        elif rgb != want_rgb:
            wrong = sum(1 for i in range(0, len(rgb), 3) if rgb[i:i + 3] != want_rgb[i:i + 3])
            print("%s: %s reads %d pixels differently" % (label, peer, wrong))
            failures += 1
        # A resolution only half given is not a resolution to these readers.
        want_dpi = (int(dpi_x), int(dpi_y)) if int(dpi_x) > 0 and int(dpi_y) > 0 else (0, 0)
        # ImageMagick gives a page without a resolution its default 72 dpi.
        if peer == "magick" and want_dpi == (0, 0) and dpi == (72, 72):
            dpi = want_dpi
        if dpi != want_dpi:
            print("%s: %s reads %s dpi, not %s" % (label, peer, dpi, want_dpi))
            failures += 1
    print("%s: %d of %d pages read exactly" % (peer, pages - failures, pages))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
