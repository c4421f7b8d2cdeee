#!/usr/bin/env bash
# Builds pcxtool (Release, into build/release/) and converts every page of the sample
# DCX file to PNG in out/, then describes the file.
set -euo pipefail
cd "$(dirname "$0")/.."

# Debian packages pcxtool's build needs, installed only when missing.
source scripts/install-missing.sh
install_missing cmake ninja-build g++ libpng-dev libdeflate-dev libtiff-dev libssl-dev nlohmann-json3-dev

# The tests are optional here: without GoogleTest they are skipped.
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build/release -j2 --target pcxtool

mkdir -p out
build/release/tools/pcxtool decode -v samples/sample.dcx out/page-%d.png
build/release/tools/pcxtool info samples/sample.dcx
