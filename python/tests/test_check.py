"""check(): the validator's report as Python objects, from every source."""

import io

import pytest

import iffpcx
from conftest import CORPUS

# (file, format, format identifier, verdict, finding ids)
REPORTS = [
    ("np_8bit.pcx", "pcx", "fmt/90", "valid", ["PCX-BPL-ODD"]),
    ("pil_rgb.pcx", "pcx", "fmt/90", "valid", ["PCX-FILLER"]),
    ("im_pages.dcx", "dcx", "x-fmt/348", None, None),
]


@pytest.mark.parametrize("name, format, format_id, verdict, ids", REPORTS)
def test_reports_of_corpus_files(name, format, format_id, verdict, ids):
    report = iffpcx.check(CORPUS / name)
    assert (report.file, report.format, report.format_id) == (str(CORPUS / name), format, format_id)
    assert report.version == 5 and report.strict is False
    if verdict is not None:
        assert report.verdict == verdict and report.valid
        assert [finding.id for finding in report.findings] == ids
    with iffpcx.open(CORPUS / name) as f:
        assert len(report.pages) == len(f)
        for summary, page in zip(report.pages, f):
            assert (summary.width, summary.height, summary.planes, summary.bits_per_plane) == (
                page.width, page.height, page.info["planes"], page.info["bits_per_plane"])
    assert (report.warnings, report.errors, report.fatals) == tuple(
        sum(finding.severity == severity for finding in report.findings) for severity in ("warning", "error", "fatal"))


def test_a_finding_in_full_and_strict_checking():
    report = iffpcx.check(CORPUS / "np_8bit.pcx")
    finding = report.findings[0]
    assert (finding.severity, finding.page, finding.offset) == ("warning", 0, 66)
    assert "odd" in finding.message
    strict = iffpcx.check(CORPUS / "np_8bit.pcx", strict=True)
    assert strict.strict and strict.verdict == "not-valid" and not strict.valid


SOURCES = {
    "path": lambda data: CORPUS / "np_24bit.pcx",
    "bytes": lambda data: data,
    "bytearray": lambda data: bytearray(data),
    "stream": lambda data: io.BytesIO(data),
}


@pytest.mark.parametrize("source", SOURCES.values(), ids=SOURCES.keys())
def test_every_source_gets_the_same_report(source):
    data = (CORPUS / "np_24bit.pcx").read_bytes()
    report = iffpcx.check(source(data), name="photo.pcx")
    expected = iffpcx.check(data, name="photo.pcx")
    assert report.pages == expected.pages and report.findings == expected.findings
    assert report.verdict == expected.verdict


def test_broken_files_are_reports_not_failures():
    data = (CORPUS / "np_24bit.pcx").read_bytes()
    cut = iffpcx.check(data[:300])
    assert cut.verdict == "not-well-formed" and cut.fatals >= 1
    assert any(finding.severity == "fatal" for finding in cut.findings)
    unknown = iffpcx.check(b"not an image at all")
    assert (unknown.format, unknown.format_id, unknown.verdict) == ("unknown", "", "not-well-formed")


def test_limits_and_unreadable_paths_raise(tmp_path):
    with pytest.raises(iffpcx.Error) as failure:
        iffpcx.check(CORPUS / "np_24bit.pcx", max_file_bytes=100)
    assert failure.value.status == "IFFPCX_ERR_LIMIT"
    with pytest.raises(FileNotFoundError):
        iffpcx.check(tmp_path / "missing.pcx")
    with pytest.raises(IsADirectoryError):
        iffpcx.check(tmp_path)
