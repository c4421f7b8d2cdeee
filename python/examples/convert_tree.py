#!/usr/bin/env python3
"""Converts every PCX and DCX file in a folder tree to PNG, a file to a task,
on Dask's distributed scheduler.

    convert_tree.py SRC DST [--workers N]      a local cluster of N worker processes
    convert_tree.py SRC DST --scheduler ADDR   the cluster behind that scheduler

Files are picked by their extension (.pcx, .dcx, any case). DST mirrors
SRC's folders: a.pcx gives a.png, a DCX file of several pages b.dcx one PNG
a page, b.p0.png, b.p1.png, ... Every worker of a remote cluster must see SRC and DST
at the same paths and have iffpcx and Pillow installed.

One line a file, as its outcome arrives: "ok SRC: N pages" or "failed SRC:
reason". Exit status 0 when every file converted, 1 when any did not.
"""

import argparse
import os
import pathlib
import sys


def find_files(root):
    """Every PCX and DCX file under root, in a steady order."""
    return sorted(path for path in pathlib.Path(root).rglob("*") if path.suffix.lower() in (".pcx", ".dcx")
                  and path.is_file())


def page_image(page):
    """A page as a Pillow image in its own mode, palette and resolution."""
    from PIL import Image

    image = Image.fromarray(page.array())  # the array's dtype and shape give the mode
    if page.mode == "P":
        image.putpalette(page.palette.tobytes())  # an "L" image with a palette is a "P" one
    return image


def convert(source, target_stem):
    """Runs on a worker: every page of source to PNG beside target_stem. The
    outcome: (source, pages written, None) or (source, 0, reason)."""
    import iffpcx

    written = []
    try:
        with iffpcx.open(source) as pcx:
            target_stem.parent.mkdir(parents=True, exist_ok=True)
            for page in pcx:
                name = f"{target_stem}.p{page.index}.png" if len(pcx) > 1 else f"{target_stem}.png"
                dpi = page.dpi if min(page.dpi) > 0 else None
                options = {"dpi": dpi} if dpi else {}
                page_image(page).save(name, **options)
                written.append(name)
        return str(source), len(written), None
    except (iffpcx.Error, OSError, ValueError) as failure:
        for name in written:  # all pages of a file or none
            os.remove(name)
        return str(source), 0, str(failure)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("src", type=pathlib.Path, help="the folder tree to convert")
    parser.add_argument("dst", type=pathlib.Path, help="where the PNG files go")
    parser.add_argument("--scheduler", help="a running cluster's scheduler address, as tcp://host:8786")
    parser.add_argument("--workers", type=int, default=os.cpu_count(), help="local worker processes (default: cores)")
    options = parser.parse_args(argv)

    from distributed import Client, LocalCluster, as_completed

    src = options.src.resolve()
    dst = options.dst.resolve()
    files = find_files(src)
    if options.scheduler:
        client = Client(options.scheduler)
        cluster = None
    else:
        cluster = LocalCluster(n_workers=options.workers, threads_per_worker=1, processes=True,
                               dashboard_address=None)
        client = Client(cluster)
    failed = 0
    try:
        targets = [dst / path.relative_to(src).with_suffix("") for path in files]
        tasks = client.map(convert, files, targets, pure=False)
        for task in as_completed(tasks):
            try:
                source, pages, reason = task.result()
            except Exception as failure:  # a worker that died, or a task that could not run
                source, pages, reason = files[tasks.index(task)], 0, f"{type(failure).__name__}: {failure}"
            if reason is None:
                print(f"ok {source}: {pages} page{'s' if pages != 1 else ''}", flush=True)
            else:
                failed += 1
                print(f"failed {source}: {reason}", flush=True)
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
    print(f"{len(files) - failed} of {len(files)} files converted", file=sys.stderr)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
