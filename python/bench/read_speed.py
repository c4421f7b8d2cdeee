#!/usr/bin/env python3
"""Reading into numpy arrays: iffpcx against stock Pillow, in one process.

    PYTHONPATH=build/release/python /usr/bin/python3 python/bench/read_speed.py [--rounds N]

The workloads are bench/compare_peers.sh's (made by other programs' writers,
kept in build/peers/inputs): the 3000 x 2000 24-bit photo and the 50-page
fax DCX. When they are missing, compare_peers.sh is run once to make them
(with no timing rounds). As compare_peers.sh does, each round times each
way a few runs in a row (their median) before the other's, so that the two
alternate; a run opens the file and decodes every page into an array:

    iffpcx         [page.array() for page in iffpcx.open(path)]
    stock Pillow   numpy.asarray(im) after im.seek(n), for every frame of Image.open(path)

and the report gives each one's median over the rounds and the median of the
rounds' ratios Pillow / iffpcx (above 1: iffpcx is faster). Arrays are let go
page by page, as a program that handles pages one at a time would. The arrays are checked to be the same first. Pillow's own
PCX and DCX readers are used: this script never imports iffpcx.pillow.
"""

import argparse
import pathlib
import statistics
import subprocess
import sys
import time

import numpy as np
from PIL import Image

import iffpcx

ROOT = pathlib.Path(__file__).resolve().parents[2]
WORKLOADS = {"24-bit photo, 3000 x 2000": "photo24.pcx", "50-page fax DCX, 1728 x 2200": "fax50.dcx"}


def with_iffpcx(path, keep=False):
    arrays = []
    with iffpcx.open(path) as f:
        for page in f:
            pixels = page.array()
            if keep:
                arrays.append(pixels)
    return arrays


def with_pillow(path, keep=False):
    arrays = []
    with Image.open(path) as image:
        for frame in range(getattr(image, "n_frames", 1)):
            image.seek(frame)
            pixels = np.asarray(image)
            if keep:
                arrays.append(pixels)
    return arrays


def same(ours, theirs):
    # Pillow's bilevel arrays hold 0 and 255 as bool bytes: compared as bytes != 0.
    return len(ours) == len(theirs) and all(
        np.array_equal(a.view(np.uint8) != 0 if a.dtype == bool else a, b.view(np.uint8) != 0 if b.dtype == bool else b)
        for a, b in zip(ours, theirs))


def seconds(read, path, runs):
    """The median of runs runs in a row."""
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        read(path)
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def make_workloads(inputs):
    if (inputs / "done").exists():
        return
    print(f"making the workloads with bench/compare_peers.sh (once) in {inputs}", file=sys.stderr)
    subprocess.run(["bash", str(ROOT / "bench" / "compare_peers.sh"), "--rounds", "0", "--work", str(inputs.parent)],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if not (inputs / "done").exists():
        sys.exit(f"read_speed: bench/compare_peers.sh did not make the workloads in {inputs}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rounds", type=int, default=7, help="timed rounds (default 7)")
    parser.add_argument("--runs", type=int, default=3, help="runs of each way in a round (default 3)")
    parser.add_argument("--work", type=pathlib.Path, default=ROOT / "build" / "peers",
                        help="compare_peers.sh's work folder (default build/peers)")
    options = parser.parse_args()
    inputs = options.work.resolve() / "inputs"
    make_workloads(inputs)

    print(f"iffpcx {iffpcx.__version__} against Pillow {Image.__version__}: {options.rounds} rounds of "
          f"{options.runs} runs, median ms")
    print("| workload | iffpcx ms | Pillow ms | Pillow / iffpcx |")
    print("|---|---|---|---|")
    for title, name in WORKLOADS.items():
        path = inputs / name
        if not same(with_iffpcx(path, keep=True), with_pillow(path, keep=True)):
            sys.exit(f"read_speed: {name}: iffpcx and Pillow decode different pixels")
        ours, theirs = [], []
        for _ in range(options.rounds):
            ours.append(seconds(with_iffpcx, path, options.runs))
            theirs.append(seconds(with_pillow, path, options.runs))
        ratio = statistics.median(t / o for t, o in zip(theirs, ours))
        print(f"| {title} | {statistics.median(ours) * 1000:.1f} | {statistics.median(theirs) * 1000:.1f} | "
              f"{ratio:.1f} |")


if __name__ == "__main__":
    main()
