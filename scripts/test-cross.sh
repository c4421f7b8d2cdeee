#!/usr/bin/env bash
# Cross-builds the library's suite for other processors with Debian's cross
# compilers and runs it under qemu-user: aarch64, s390x (big-endian) and
# armhf (32-bit). Release builds in build/cross-ARCH, the suite only, one
# process per target; prints a line per target. Installs what it needs.
# (i686 is left out: qemu-i386 stalls the suite's threads test, and the
# 32-bit x86 loops run in the Windows suite under Wine.)
# usage: scripts/test-cross.sh [ARCH...]   (default: aarch64 s390x armhf)
set -euo pipefail
cd "$(dirname "$0")/.."

targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(aarch64 s390x armhf)

source scripts/install-missing.sh
triple_for() { # Debian's name of an architecture's cross toolchain
  case "$1" in
    armhf) echo arm-linux-gnueabihf ;;
    *) echo "$1-linux-gnu" ;;
  esac
}
qemu_for() { # the qemu-user program for an architecture
  case "$1" in
    armhf) echo qemu-arm ;;
    i686) echo qemu-i386 ;;
    *) echo "qemu-$1" ;;
  esac
}

packages=(cmake ninja-build googletest qemu-user)
for arch in "${targets[@]}"; do
  packages+=("g++-$(triple_for "$arch")")
done
install_missing "${packages[@]}"

status=0
for arch in "${targets[@]}"; do
  triple=$(triple_for "$arch")
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
