#!/usr/bin/env bash
# Cross-builds the 32-bit Windows DLL, build/win32/iffpcx.dll, with its import
# library libiffpcx.dll.a and the test programs beside it. Installs the
# cross compiler and Wine first when they are missing (Debian).
# usage: scripts/build-windows.sh [extra cmake arguments]
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/install-missing.sh
install_missing cmake ninja-build g++-mingw-w64-i686 binutils-mingw-w64-i686 googletest wine wine32:i386

dir=build/win32
cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
cmake --build "$dir" -j 2
echo "built $dir/iffpcx.dll ($(stat -c %s "$dir/iffpcx.dll") bytes)"
