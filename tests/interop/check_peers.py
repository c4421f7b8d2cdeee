#!/usr/bin/env python3
"""Writes every corpus image with the library in each layout that can hold it
and checks that netpbm's pcxtoppm and Pillow read the files back exactly.

usage: check_peers.py WRITER CORPUS-DIR WORK-DIR

Each peer is asked only about the layouts it reads:
- pcxtoppm reads them all, but looks for the 256-colour block right behind the
  image data. By default the library ends 8-bit files on a multiple of 32
  bytes, so the block sits after a gap of 0 to 31 bytes; files with a gap are
  skipped for it, and a copy with the gap taken out is read instead, so the
  image data and the block's entries are still checked. The *_after layouts
  ask for the block right behind the data, and pcxtoppm reads them as written.
- Pillow reads neither three bit planes nor packed 2-bit lines, and its
  Debian 9.4 build misreads four bit planes whose lines end in a pad byte.
Exit status: 0 all checks passed, 1 a peer read a file wrongly or the writer
failed, 77 no peer is installed.
"""
import glob
import os
import shutil
import subprocess
import sys


def read_pnm(data):
    """Pixels of a binary PBM, PGM or PPM as RGB bytes: (width, height, rgb)."""
    fields, at = [], 2
    kind = data[:2]
    wanted = 2 if kind == b"P4" else 3
    while len(fields) < wanted:
        while data[at:at + 1].isspace():
            at += 1
        if data[at:at + 1] == b"#":
            at = data.index(b"\n", at) + 1
            continue
        start = at
        while not data[at:at + 1].isspace():
            at += 1
        fields.append(int(data[start:at]))
    at += 1
    width, height = fields[0], fields[1]
    if kind == b"P6" and fields[2] == 255:
        return width, height, bytes(data[at:at + 3 * width * height])
    if kind == b"P5" and fields[2] == 255:
        gray = data[at:at + width * height]
        return width, height, bytes(v for g in gray for v in (g, g, g))
    if kind == b"P4":
        row_bytes = (width + 7) // 8
        out = bytearray()
        for y in range(height):
            row = data[at + y * row_bytes:at + (y + 1) * row_bytes]
            for x in range(width):
                v = 0 if row[x // 8] >> (7 - x % 8) & 1 else 255
                out += bytes((v, v, v))
        return width, height, bytes(out)
    raise ValueError("unsupported PNM: %r maxval %s" % (kind, fields[2:]))


def run_pcxtoppm(pcxtoppm, path, expected, label):
    """1 when pcxtoppm reads the file as expected, else 0 (and says why)."""
    got = subprocess.run([pcxtoppm, path], capture_output=True)
    why = got.stderr.decode().strip()
    if got.returncode == 0:
        try:
            if read_pnm(got.stdout) == expected:
                return 1
            why = "pixels differ"
        except (ValueError, IndexError) as error:
            why = "unreadable output: %s" % error
    print("FAIL %s %s: %s" % (label, os.path.basename(path), why))
    return 0


def find_peers():
    """(pcxtoppm's path, Pillow's Image module), None for each one missing."""
    try:
        from PIL import Image
    except ImportError:
        Image = None
    if shutil.which("pcxtoppm") is None and Image is None:
        print("neither pcxtoppm nor Pillow is installed: skipped")
    return shutil.which("pcxtoppm"), Image


def main():
    writer, corpus, work = sys.argv[1:4]
    pcxtoppm, Image = find_peers()
    if pcxtoppm is None and Image is None:
        return 77

    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    passed = failed = skipped = 0
    for ppm in sorted(glob.glob(os.path.join(corpus, "*.ppm"))):
        with open(ppm, "rb") as f:
            expected = read_pnm(f.read())
        run = subprocess.run([writer, ppm, work], capture_output=True)
        if run.returncode != 0:
            print("FAIL write %s: %s" % (ppm, run.stderr.decode().strip()))
            failed += 1
            continue
        for line in run.stdout.decode().splitlines():
            path, layout, width, _height, gap = line.split()
            name = os.path.basename(path)
            width, gap = int(width), int(gap)

            if layout.endswith("_after") and gap != 0:
                print("FAIL write %s: 256-colour block %d bytes behind the data" % (name, gap))
                failed += 1
            elif pcxtoppm is None:
                skipped += 1
            elif gap > 0:
                print("skip pcxtoppm %s: 256-colour block %d bytes behind the data" % (name, gap))
                skipped += 1
                with open(path, "rb") as f:
                    data = f.read()
                closed = path[:-len(".pcx")] + ".nogap.pcx"
                with open(closed, "wb") as f:
                    f.write(data[:len(data) - 769 - gap] + data[-769:])
                ok = run_pcxtoppm(pcxtoppm, closed, expected, "pcxtoppm (gap taken out)")
                passed, failed = passed + ok, failed + 1 - ok
            else:
                ok = run_pcxtoppm(pcxtoppm, path, expected, "pcxtoppm")
                passed, failed = passed + ok, failed + 1 - ok

            pad_byte = layout == "planes4" and (width + 7) // 8 % 2 == 1
            if Image is None or layout in ("packed2", "planes3") or pad_byte:
                skipped += 1
            else:
                try:
                    with Image.open(path) as image:
                        image = image.convert("RGB")
                        got = (image.width, image.height, image.tobytes())
                    why = "pixels differ"
                except (OSError, ValueError, SyntaxError) as error:
                    got, why = None, str(error)
                if got == expected:
                    passed += 1
                else:
                    print("FAIL Pillow %s: %s" % (name, why))
                    failed += 1

    print("%d passed, %d failed, %d skipped" % (passed, failed, skipped))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
