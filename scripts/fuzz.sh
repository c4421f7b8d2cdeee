#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer (under AddressSanitizer and
# UndefinedBehaviorSanitizer) in build/fuzz and runs each for FUZZ_SECONDS
# (default 60; 0 skips fuzzing). FUZZ_TARGETS picks targets (default: all).
# A finding fails the run and leaves its input in build/fuzz/findings/TARGET/;
# the corpus each target grows is kept in build/fuzz/corpus/TARGET/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
read -r -a targets <<<"${FUZZ_TARGETS:-read write pnm png dcx check image}"
if [ "$seconds" = 0 ]; then
  echo "fuzzing skipped (FUZZ_SECONDS=0)"
  exit 0
fi

bash scripts/setup.sh # what the build itself needs
source scripts/install-missing.sh
install_missing clang
# libFuzzer's runtime comes with the compiler runtime of clang's version.
if [ ! -e "$(clang -print-file-name=libclang_rt.fuzzer-x86_64.a)" ]; then
  install_missing "libclang-rt-$(clang -dumpversion | cut -d. -f1)-dev"
fi

dir=build/fuzz
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DIFFPCX_FUZZ=ON -DIFFPCX_TESTS=OFF -DIFFPCX_BENCHMARKS=OFF >/dev/null
# The whole configuration, not only the targets: the shared library, pcxtool
# and the examples must link against the instrumented code too.
cmake --build "$dir" -j 2

dictionary() { # target
  case "$1" in
    pnm) echo fuzz/pnm.dict ;;
    png) echo fuzz/png.dict ;;
    *) echo fuzz/pcx.dict ;;
  esac
}

failed=()
for target in "${targets[@]}"; do
  corpus="$dir/corpus/$target"
  findings="$dir/findings/$target"
  mkdir -p "$corpus" "$findings" "fuzz/seeds/$target" "fuzz/crashes/$target"
  extra=()
  case "$target" in read | dcx | check) extra=(tests/corpus) ;; esac # files of other programs
  echo "fuzzing $target for ${seconds}s"
  if ! ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$dir/fuzz/${target}_fuzzer" -max_total_time="$seconds" -timeout=30 -print_final_stats=1 \
    -dict="$(dictionary "$target")" -artifact_prefix="$findings/" \
    "$corpus" "fuzz/seeds/$target" "fuzz/crashes/$target" "${extra[@]}" >"$dir/$target.log" 2>&1; then
    failed+=("$target")
    echo "FINDING in $target: input in $findings/, log in $dir/$target.log"
  fi
  grep -E '^(#[0-9]+\s+DONE|stat::number_of_executed_units)' "$dir/$target.log" || true
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found faults in: ${failed[*]}"
  exit 1
fi
echo "fuzzing found nothing"
