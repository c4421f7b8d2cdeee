#!/usr/bin/env bash
# Builds pcxtool (Release, into build/release/) and converts every page of the sample
# DCX file to PNG in out/, then describes the file.
set -euo pipefail
cd "$(dirname "$0")/.."

# Debian packages the build needs, installed only when missing.
missing=()
command -v cmake > /dev/null || missing+=(cmake)
command -v ninja > /dev/null || missing+=(ninja-build)
command -v g++ > /dev/null || missing+=(g++)
dpkg -s libpng-dev > /dev/null 2>&1 || missing+=(libpng-dev)
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
fi

# The tests are optional here: without GoogleTest they are skipped.
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build/release -j2 --target pcxtool

mkdir -p out
build/release/tools/pcxtool decode -v samples/sample.dcx out/page-%d.png
build/release/tools/pcxtool info samples/sample.dcx
