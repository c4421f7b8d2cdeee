#!/usr/bin/python3
"""Writes the fuzz targets' seed inputs into fuzz/seeds/TARGET/: small PCX
files of every layout (Pillow and netpbm write them), DCX files built from
them, PNM and PNG images, and image descriptions for the writer. Read seeds
end with the eight option bytes the read target takes from an input's tail."""
import io
import os
import struct
import subprocess

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))


def seed(target, name, data):
    path = os.path.join(HERE, "seeds", target)
    os.makedirs(path, exist_ok=True)
    with open(os.path.join(path, name), "wb") as out:
        out.write(data)


def picture(mode, width, height):
    image = Image.new("RGB", (width, height))
    image.putdata([((x * 37) & 255, (y * 53) & 255, ((x ^ y) * 29) & 255)
                   for y in range(height) for x in range(width)])
    if mode == "P":
        return image.quantize(16)
    return image.convert(mode)


def encoded(image, fmt):
    out = io.BytesIO()
    image.save(out, fmt)
    return out.getvalue()


def netpbm(program, args, data):
    return subprocess.run([program, *args], input=data, capture_output=True, check=True).stdout


def dcx(pages):
    offset = 4 + 4 * (len(pages) + 1)
    directory = struct.pack("<I", 0x3ADE68B1)
    for page in pages:
        directory += struct.pack("<I", offset)
        offset += len(page)
    return directory + struct.pack("<I", 0) + b"".join(pages)


def main():
    pcx = {}
    for mode in ("1", "L", "P", "RGB"):
        pcx["pil_" + mode] = encoded(picture(mode, 13, 7), "PCX")
    ppm = encoded(picture("RGB", 11, 5), "PPM")
    for name, args, colours in (("np_24bit", ["-24bit"], 0), ("np_8bit", ["-8bit"], 0),
                                ("np_planes2", ["-planes", "2"], 4), ("np_planes3", ["-planes", "3"], 8),
                                ("np_planes4", ["-planes", "4"], 16), ("np_packed2", ["-packed"], 4)):
        small = netpbm("pnmquant", [str(colours)], ppm) if colours else ppm
        pcx[name] = netpbm("ppmtopcx", args, small)
    pcx["dcx_three"] = dcx([pcx["pil_1"], pcx["np_planes4"], pcx["np_24bit"]])

    # Option tails: plain reading; lines mode with inverted layout; small
    # chunks and several lines a call; a failing read; a failing seek.
    tails = [bytes([6, 0, 0, 0, 255, 0, 1, 3]), bytes([9, 3, 3, 0, 255, 0, 200, 2]),
             bytes([4, 9, 17, 0, 255, 0, 5, 0]), bytes([2, 16, 0, 6, 255, 1, 4, 255]),
             bytes([6, 8, 0, 255, 3, 0, 2, 1])]
    for number, (name, data) in enumerate(sorted(pcx.items())):
        seed("read", name, data + tails[number % len(tails)])
        seed("dcx", name, data)

    palette = bytes((k * 7) & 255 for k in range(768))
    for number, layout in enumerate(range(9)):
        description = struct.pack("<HBBBBBHHBBBH", 17 + number, 5, layout, 0, number % 8, 7,
                                  300 + number, 150, 0 if number != 4 else 3, 0 if number != 6 else 2,
                                  2 * (number % 4), 0)
        seed("write", "layout%d" % layout, description + palette + bytes(range(256)) * 2)

    for name, mode, fmt in (("gray", "L", "PPM"), ("rgb", "RGB", "PPM"), ("bilevel", "1", "PPM")):
        seed("pnm", name, encoded(picture(mode, 9, 4), fmt))
    seed("pnm", "plain_ppm", b"P3\n# a comment\n2 2\n15\n0 1 2 3 4 5\n6 7 8 9 10 11\n")
    seed("pnm", "plain_pbm", b"P1\n3 2\n1 0 1\n0 1 0\n")
    seed("pnm", "wide_pgm", b"P5 2 1 65535\n\x01\x02\x03\x04")
    # Ten-bit samples, whose scaling to 0..255 rounds.
    seed("pnm", "ppm_1023", b"P6 3 2 1023\n" + b"".join(struct.pack(">H", (k * 97) % 1024) for k in range(18)))
    seed("pnm", "plain_pgm_1023", b"P2 4 1 1023\n0 511 512 1023\n")
    seed("png", "rgb16", netpbm("pnmtopng", [], b"P6 2 2 65535\n" + bytes((k * 37) & 255 for k in range(24))))
    for name, mode in (("gray", "L"), ("rgb", "RGB"), ("rgba", "RGBA"), ("bilevel", "1"), ("gray_alpha", "LA")):
        seed("png", name, encoded(picture("RGB", 6, 3).convert(mode), "PNG"))
    seed("png", "palette", encoded(picture("P", 6, 3), "PNG"))
    seed("png", "gray16", netpbm("pnmtopng", [], b"P5 3 2 65535\n" + bytes(range(12))))

if __name__ == "__main__":
    main()
