#!/usr/bin/env bash
# Builds both Windows DLLs (32-bit x86 and x86-64) with their test suites and
# runs them under Wine: the GoogleTest suite, the C hosts (one linked with the
# import library, one that loads the DLL and takes the entry points by
# ordinal), the examples, the export, import and install checks and the read
# and write fuzz targets on their kept inputs. The ordinal host's and the
# examples' output is compared byte for byte with the same programs built on
# Linux (build/release, configured here when missing).
# Wine runs in a prefix inside each build, with no display and no prompts.
# A machine that cannot execute 32-bit x86 programs (some virtual machines
# cannot) runs only the 32-bit checks that need no Wine, and says so.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

linux=build/release
if [ ! -f "$linux/build.ninja" ]; then
  cmake -S . -B "$linux" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$linux" -j 2 --target iffpcx ordinal_host iffpcx_read_image iffpcx_describe

bash scripts/build-windows.sh -DIFFPCX_LINUX_BUILD="$PWD/$linux"

status=0
for arch in win32 win64; do
  dir=build/$arch
  prefix=$PWD/$dir/wineprefix
  skip=()
  if [ $arch = win32 ] && ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    echo "$arch: this machine cannot execute 32-bit x86 programs: the tests that run under Wine are skipped"
    skip=(-LE wine)
  else
    # Set the prefix up once, before tests run side by side.
    tests/windows/wine_run.sh $arch "$prefix" cmd /c exit >/dev/null 2>&1 || true
  fi
  started=$SECONDS
  (cd "$dir" && ctest --output-on-failure --no-tests=error -j 2 "${skip[@]}") || status=$?
  echo "$arch suite: $((SECONDS - started)) s"
  [ ${#skip[@]} -gt 0 ] || WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
done
[ $status = 0 ] && echo "windows suites passed"
exit $status
