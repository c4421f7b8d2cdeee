#!/usr/bin/env bash
# Cross-builds the Windows DLLs with Debian's mingw-w64: build/win32/iffpcx.dll
# for 32-bit x86 and build/win64/iffpcx.dll for x86-64, each with its import
# library libiffpcx.dll.a and, unless --dll-only, the test programs beside it.
# Installs the cross compilers first when they are missing, and Wine too
# unless --dll-only (Debian).
# usage: scripts/build-windows.sh [--dll-only] [--arch win32|win64] [extra cmake arguments]
#   --dll-only   the DLLs alone: no tests, examples or benchmarks, no GoogleTest or Wine
#   --arch A     only one of the two builds (default: both)
set -euo pipefail
cd "$(dirname "$0")/.."

dll_only=0
archs=(win32 win64)
while [ $# -gt 0 ]; do
  case $1 in
    --dll-only) dll_only=1; shift ;;
    --arch) archs=("$2"); shift 2 ;;
    *) break ;;
  esac
done

source scripts/install-missing.sh
packages=(cmake ninja-build)
for arch in "${archs[@]}"; do
  case $arch in
    win32) packages+=(g++-mingw-w64-i686 binutils-mingw-w64-i686) ;;
    win64) packages+=(g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64) ;;
    *) echo "build-windows.sh: unknown --arch $arch (win32 or win64)" >&2; exit 2 ;;
  esac
done
if [ $dll_only = 1 ]; then
  parts=(-DIFFPCX_TESTS=OFF -DIFFPCX_EXAMPLES=OFF -DIFFPCX_BENCHMARKS=OFF -DIFFPCX_TOOLS=OFF)
  target=(--target iffpcx)
else
  packages+=(googletest wine)
  for arch in "${archs[@]}"; do
    case $arch in
      win32) packages+=(wine32:i386) ;;
      win64) packages+=(wine64) ;;
    esac
  done
  parts=(-DIFFPCX_TESTS=ON -DIFFPCX_EXAMPLES=ON)
  target=()
fi
install_missing "${packages[@]}"

for arch in "${archs[@]}"; do
  dir=build/$arch
  toolchain=cmake/mingw-w64-$([ "$arch" = win32 ] && echo i686 || echo x86_64).cmake
  cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release "${parts[@]}" "$@" >/dev/null
  cmake --build "$dir" -j 2 "${target[@]}"
  echo "built $dir/iffpcx.dll ($(stat -c %s "$dir/iffpcx.dll") bytes)"
done
