#!/usr/bin/env bash
# Builds the Windows DLL and its test suite, and runs them under Wine: the
# GoogleTest suite, the C hosts (one linked with the import library, one that
# loads the DLL and takes the entry points by ordinal), the export and import
# checks and the read and write fuzz targets on their kept inputs. The
# ordinal host's output is compared byte for byte with the same host built on
# Linux (build/release, configured here when missing).
# Wine runs in a prefix inside build/, with no display and no prompts.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

linux=build/release
if [ ! -f "$linux/build.ninja" ]; then
  cmake -S . -B "$linux" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$linux" -j 2 --target iffpcx ordinal_host

bash scripts/build-windows.sh -DIFFPCX_LINUX_BUILD="$PWD/$linux"
dir=build/win32
prefix=$PWD/$dir/wineprefix
# Set the prefix up once, before tests run side by side.
tests/windows/wine_run.sh "$prefix" cmd /c exit >/dev/null 2>&1 || true
status=0
(cd "$dir" && ctest --output-on-failure --no-tests=error -j 2) || status=$?
WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
[ $status = 0 ] && echo "windows suite passed"
exit $status
