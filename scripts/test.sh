#!/usr/bin/env bash
# Sets up what the project needs, then builds and runs the whole suite twice:
# an optimised build, and one under AddressSanitizer, LeakSanitizer and
# UndefinedBehaviorSanitizer that fails on any report (both with the Python
# package's pytest files), with the package's pip install between them; then
# the Windows DLL, the library on other processors, pcxtool's threads and the
# fuzz targets.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/check-format.sh # every C and C++ source follows .clang-format

jobs=2
run_suite() { # name, cmake args...
  local dir="build/$1"; shift
  cmake -S . -B "$dir" -G Ninja -DIFFPCX_TESTS=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure --no-tests=error -j "$jobs")
}

run_suite release -DCMAKE_BUILD_TYPE=Release
bash python/tests/pip_install.sh # the Python package installs with pip, offline, into a fresh virtual environment
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIFFPCX_SANITIZE=ON -DIFFPCX_BENCHMARKS=OFF
bash scripts/test-windows.sh # the 32-bit Windows DLL and its suite under Wine
bash scripts/test-cross.sh # the library's suite on aarch64, s390x (big-endian) and armhf under qemu-user
bash scripts/test-threads.sh # pcxtool's two-thread paths under ThreadSanitizer
bash scripts/fuzz.sh # each fuzz target for FUZZ_SECONDS (60), after the suites
echo "all suites passed"
