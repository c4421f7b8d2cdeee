"""What the package's tests share: where the corpus, the fuzz inputs and the
example lie, and the corpus's pages with the images they hold."""

import pathlib
import re

import numpy as np
import pytest
from PIL import PpmImagePlugin

ROOT = pathlib.Path(__file__).resolve().parents[2]
CORPUS = ROOT / "tests" / "corpus"
FUZZ = ROOT / "fuzz"
EXAMPLES = ROOT / "python" / "examples"


def reference(path):
    """A reference image of the corpus (binary PPM) as (H, W, 3) uint8, read by
    Pillow's own PPM reader, whatever the PCX plugins are."""
    with PpmImagePlugin.PpmImageFile(str(path)) as image:
        return np.asarray(image.convert("RGB"))


def corpus_pages():
    """(file, page, reference) for every page of every corpus file."""
    pages = []
    for path in sorted(CORPUS.glob("*.pcx")):
        pages.append((path, 0, path.with_suffix(".ppm")))
    for path in sorted(CORPUS.glob("*.dcx")):
        for ppm in sorted(CORPUS.glob(path.stem + ".p*.ppm")):
            pages.append((path, int(re.search(r"\.p(\d+)\.ppm$", ppm.name).group(1)), ppm))
    return pages


def page_id(case):
    return f"{case[0].name}[{case[1]}]"


def fuzz_inputs():
    """Every kept fuzz input: the seeds of each target and the crash inputs."""
    return sorted(p for folder in ("seeds", "crashes") for p in (FUZZ / folder).glob("*/*") if p.is_file())


def stock_pillow_misreads():
    """The corpus files the MANIFEST says Pillow's own reader does not read exactly."""
    misread = []
    for line in (CORPUS / "MANIFEST").read_text().splitlines():
        name, *fields = line.split()
        readers = dict(field.split("=", 1) for field in fields if "=" in field).get("read-exactly-by", "")
        if "pillow" not in readers.split(","):
            misread.append(CORPUS / name)
    return misread


@pytest.fixture(params=corpus_pages(), ids=page_id)
def corpus_page(request):
    return request.param
