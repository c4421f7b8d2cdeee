#!/usr/bin/env bash
# Sets up what the project needs, then builds and runs the whole suite twice:
# an optimised build, and one under AddressSanitizer, LeakSanitizer and
# UndefinedBehaviorSanitizer that fails on any report (both with the Python
# package's pytest files), with the package's pip install between them; then
# the Windows DLL, the library on other processors, pcxtool's threads and the
# fuzz targets.
set -euo pipefail
cd "$(dirname "$0")/.."
timed_setup_started=$SECONDS
bash scripts/setup.sh
bash scripts/check-format.sh # every C and C++ source follows .clang-format

jobs=2
# Each step's time, printed as it ends and again at the end.
timings=()
timed() { # name, command...
  local name=$1 started=$SECONDS
  shift
  "$@"
  timings+=("$name: $((SECONDS - started)) s")
  echo "== $name took $((SECONDS - started)) s"
}
run_suite() { # name, cmake args...
  local dir="build/$1"; shift
  cmake -S . -B "$dir" -G Ninja -DIFFPCX_TESTS=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure --no-tests=error -j "$jobs")
}

timings+=("setup and format check: $((SECONDS - timed_setup_started)) s")

timed "optimised suite" run_suite release -DCMAKE_BUILD_TYPE=Release
timed "python pip install" bash python/tests/pip_install.sh # the Python package installs with pip, offline, into a fresh virtual environment
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
timed "sanitizer suite" run_suite sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIFFPCX_SANITIZE=ON -DIFFPCX_BENCHMARKS=OFF
unset ASAN_OPTIONS UBSAN_OPTIONS
timed "windows suites" bash scripts/test-windows.sh # both Windows DLLs and their suites under Wine
timed "other processors" bash scripts/test-cross.sh # the library on aarch64, s390x (big-endian) and armhf under qemu-user
timed "threads" bash scripts/test-threads.sh # pcxtool's two-thread paths under ThreadSanitizer
timed "fuzzing" env FUZZ_SECONDS="${FUZZ_SECONDS:-30}" bash scripts/fuzz.sh # each fuzz target for FUZZ_SECONDS (here 30), after the suites
printf '%s\n' "${timings[@]}"
echo "all suites passed in $SECONDS s"
