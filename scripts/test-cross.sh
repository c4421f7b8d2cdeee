#!/usr/bin/env bash
# Cross-builds the library's suite for other processors with Debian's cross
# compilers and runs it under qemu-user: aarch64, s390x (big-endian) and
# i686 (32-bit). Release builds in build/cross-ARCH, the suite only, one
# process per target; prints a line per target. Installs what it needs.
# usage: scripts/test-cross.sh [ARCH...]   (default: aarch64 s390x i686)
set -euo pipefail
cd "$(dirname "$0")/.."

targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(aarch64 s390x i686)

source scripts/install-missing.sh
packages=(cmake ninja-build googletest qemu-user)
for arch in "${targets[@]}"; do
  packages+=("g++-$arch-linux-gnu")
done
install_missing "${packages[@]}"

qemu_for() { # the qemu-user program for an architecture
  case "$1" in
    i686) echo qemu-i386 ;;
    *) echo "qemu-$1" ;;
  esac
}

status=0
for arch in "${targets[@]}"; do
  triple=$arch-linux-gnu
  dir=build/cross-$arch
  emulator="$(qemu_for "$arch");-L;/usr/$triple"
  start=$SECONDS
  if ! cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_SYSTEM_NAME=Linux \
      -DCMAKE_SYSTEM_PROCESSOR="$arch" -DCMAKE_C_COMPILER="$triple-gcc" -DCMAKE_CXX_COMPILER="$triple-g++" \
      -DCMAKE_CROSSCOMPILING_EMULATOR="$emulator" -DIFFPCX_TESTS=ON -DIFFPCX_TOOLS=OFF \
      -DIFFPCX_BENCHMARKS=OFF -DIFFPCX_EXAMPLES=OFF -DIFFPCX_INSTALL=OFF >"$dir.log" 2>&1 ||
    ! cmake --build "$dir" -j 2 --target iffpcx_tests >>"$dir.log" 2>&1; then
    echo "cross $arch: build FAILED (see $dir.log)"
    status=1
    continue
  fi
  # One emulated process for the whole suite, as under Wine.
  if $(qemu_for "$arch") -L "/usr/$triple" "$dir/tests/iffpcx_tests" --gtest_brief=1 >"$dir/suite.log" 2>&1; then
    passed=$(sed -n 's/^\[  PASSED  \] \([0-9][0-9]*\) test.*/\1/p' "$dir/suite.log" | head -1)
    skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9][0-9]*\) test.*/\1/p' "$dir/suite.log" | head -1)
    echo "cross $arch: ${passed:-0} passed, ${skipped:-0} skipped (vector levels it lacks), $((SECONDS - start)) s"
  else
    echo "cross $arch: suite FAILED (see $dir/suite.log)"
    tail -20 "$dir/suite.log"
    status=1
  fi
done
exit $status
