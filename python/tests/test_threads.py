"""Threads: separate files decode side by side on separate threads, and a file
shared by threads gives every thread the same pages (one at a time)."""

import concurrent.futures
import io
import threading

import numpy as np
import pytest

import iffpcx
from conftest import CORPUS


def noisy_files(count):
    rng = np.random.default_rng(5)
    files = []
    for k in range(count):
        out = io.BytesIO()
        # Large enough that each page is decoded in two parts as well.
        pixels = rng.integers(0, 256, (700 + 50 * k, 900, 3), dtype=np.uint8)
        pixels[:, ::7] = 0  # runs as well as literals
        iffpcx.write(out, pixels)
        files.append((out.getvalue(), pixels))
    return files


def test_separate_files_on_separate_threads():
    files = noisy_files(4)

    def decode(data):
        with iffpcx.open(data) as f:
            return f[0].array()

    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        for _ in range(3):
            for (data, pixels), decoded in zip(files, pool.map(decode, [data for data, _ in files])):
                np.testing.assert_array_equal(decoded, pixels)


def test_one_file_shared_by_threads():
    expected = {}
    with iffpcx.open(CORPUS / "np_pages.dcx") as f:
        for page in f:
            expected[page.index] = page.rgb()
        with concurrent.futures.ThreadPoolExecutor(6) as pool:
            work = [pool.submit(lambda k: f[k].rgb(), k % len(f)) for k in range(60)]
            for k, done in enumerate(work):
                np.testing.assert_array_equal(done.result(), expected[k % len(f)])


def test_closing_a_file_another_thread_decodes():
    data, pixels = noisy_files(1)[0]
    f = iffpcx.open(data)
    page = f[0]
    started = threading.Barrier(2)
    outcomes = []

    def keep_decoding():
        started.wait()
        while True:
            try:
                np.testing.assert_array_equal(page.array(), pixels)
                outcomes.append("decoded")
            except ValueError as error:
                outcomes.append(str(error))
                return

    worker = threading.Thread(target=keep_decoding)
    worker.start()
    started.wait()
    f.close()
    worker.join()
    assert "closed" in outcomes[-1] and all(outcome == "decoded" for outcome in outcomes[:-1])
    with pytest.raises(ValueError, match="closed"):
        page.rgb()


@pytest.mark.parametrize("mode", ["RGB", "1"])
def test_a_large_page_cut_in_its_second_part_fails_as_cut(mode):
    # Decoded in two parts, the later part fails first; the failure reported
    # is the cut, not the first part's being stopped because of it.
    rng = np.random.default_rng(3)
    pixels = rng.integers(0, 256, (1200, 1300, 3), dtype=np.uint8) if mode == "RGB" else (
        rng.integers(0, 2, (2600, 2000), dtype=np.uint8) > 0)
    out = io.BytesIO()
    iffpcx.write(out, pixels)
    cut = out.getvalue()[: len(out.getvalue()) * 9 // 10]
    with iffpcx.open(cut) as f:
        for _ in range(12):
            with pytest.raises(iffpcx.Error) as failure:
                f[0].array()
            assert failure.value.status == "IFFPCX_ERR_TRUNCATED", str(failure.value)
