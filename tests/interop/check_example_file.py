#!/usr/bin/env python3
"""Runs the README's write example for an 8-bit palette image and checks that
netpbm's pcxtoppm and Pillow (each where installed) read the file it writes
as the picture the example draws.

usage: check_example_file.py WRITE_IMAGE WORK-DIR
Exit status: 0 every installed peer read it exactly, 1 one did not or the
example failed, 77 neither peer is installed.
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_peers import find_peers, run_pcxtoppm  # noqa: E402


def drawn(width, height):
    """The example's picture: index (x + y) / 4 at each pixel, entry k of the
    palette (k, 255 - k, 3k)."""
    out = bytearray()
    for y in range(height):
        for x in range(width):
            k = (x + y) // 4 % 256
            out += bytes((k, 255 - k, 3 * k % 256))
    return width, height, bytes(out)


def main():
    writer, work = sys.argv[1:3]
    pcxtoppm, Image = find_peers()
    if pcxtoppm is None and Image is None:
        return 77
    os.makedirs(work, exist_ok=True)
    path = os.path.join(work, "example.pcx")
    width, height = 301, 17
    run = subprocess.run([writer, path, str(width), str(height), "palette"], capture_output=True)
    if run.returncode != 0:
        print("FAIL the example: %s" % run.stderr.decode().strip())
        return 1
    expected = drawn(width, height)
    passed = failed = 0
    if pcxtoppm is not None:
        ok = run_pcxtoppm(pcxtoppm, path, expected, "pcxtoppm")
        passed, failed = passed + ok, failed + 1 - ok
    if Image is not None:
        with Image.open(path) as image:
            got = (image.width, image.height, image.convert("RGB").tobytes())
        if got == expected:
            passed += 1
        else:
            print("FAIL Pillow example.pcx: pixels differ")
            failed += 1
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
