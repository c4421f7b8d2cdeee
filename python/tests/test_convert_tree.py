"""examples/convert_tree.py over a tree of the corpus: on a local cluster of
two worker processes it starts itself, and on a running cluster given by its
scheduler's address. Every file's outcome is reported; every page's PNG holds
the page's reference image."""

import os
import shutil
import subprocess
import sys

import numpy as np
import pytest
from PIL import PngImagePlugin

from conftest import CORPUS, EXAMPLES, corpus_pages, reference

SCRIPT = EXAMPLES / "convert_tree.py"


def corpus_tree(root, broken=False):
    """The corpus's PCX files in root/pcx, its DCX files in root/deeper/dcx,
    and with broken, a file that only looks like one by its name."""
    (root / "pcx").mkdir(parents=True)
    (root / "deeper" / "dcx").mkdir(parents=True)
    for path in CORPUS.glob("*.pcx"):
        shutil.copy(path, root / "pcx")
    for path in CORPUS.glob("*.dcx"):
        shutil.copy(path, root / "deeper" / "dcx")
    (root / "pcx" / "notes.txt").write_text("not an image")
    if broken:
        (root / "BROKEN.PCX").write_bytes(b"\x0a\x05\x01\x08" + bytes(10))
    return root


def convert_tree(*arguments):
    result = subprocess.run([sys.executable, str(SCRIPT), *map(str, arguments)], capture_output=True, text=True,
                            env=dict(os.environ), timeout=300)
    return result.returncode, result.stdout.splitlines()


def assert_pages_converted(dst):
    for path, index, ppm in corpus_pages():
        folder = dst / ("pcx" if path.suffix == ".pcx" else "deeper/dcx")
        several = path.suffix == ".dcx"
        png = folder / (f"{path.stem}.p{index}.png" if several else f"{path.stem}.png")
        with PngImagePlugin.PngImageFile(str(png)) as image:
            np.testing.assert_array_equal(np.asarray(image.convert("RGB")), reference(ppm))


def outcomes(lines):
    """{source file name: "ok" or "failed"} from the script's lines."""
    found = {}
    for line in lines:
        state, rest = line.split(" ", 1)
        found[os.path.basename(rest.split(":", 1)[0])] = state
    return found


def test_a_local_cluster_of_two_workers(tmp_path):
    src = corpus_tree(tmp_path / "src", broken=True)
    status, lines = convert_tree(src, tmp_path / "dst", "--workers", 2)
    assert status == 1
    expected = {path.name: "ok" for path in list(CORPUS.glob("*.pcx")) + list(CORPUS.glob("*.dcx"))}
    expected["BROKEN.PCX"] = "failed"
    assert outcomes(lines) == expected and len(lines) == len(expected)
    assert "cannot open as PCX or DCX" in [line for line in lines if line.startswith("failed")][0]
    assert_pages_converted(tmp_path / "dst")
    assert not (tmp_path / "dst" / "BROKEN.png").exists()


def test_a_running_cluster_by_its_scheduler_address(tmp_path):
    distributed = pytest.importorskip("distributed")
    src = corpus_tree(tmp_path / "src")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster:
        status, lines = convert_tree(src, tmp_path / "dst", "--scheduler", cluster.scheduler_address)
    assert status == 0
    assert set(outcomes(lines).values()) == {"ok"} and len(lines) == len(corpus_pages()) - 5
    assert_pages_converted(tmp_path / "dst")
