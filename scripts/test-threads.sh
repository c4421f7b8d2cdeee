#!/usr/bin/env bash
# pcxtool's two-thread paths under ThreadSanitizer: a build of its own
# (build/tsan) runs the two-part decode of large pages, the two-thread encode
# of large images and the decode of a many-page DCX file on both threads.
# Any report stops pcxtool (halt_on_error) and fails the script; outputs are
# checked against a one-thread decode to standard output as well.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/install-missing.sh
install_missing cmake ninja-build g++ libpng-dev libdeflate-dev python3

dir=build/tsan
flags=-fsanitize=thread
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" -DIFFPCX_TESTS=OFF \
  -DIFFPCX_BENCHMARKS=OFF -DIFFPCX_EXAMPLES=OFF -DIFFPCX_INSTALL=OFF >/dev/null
cmake --build "$dir" -j 2 --target pcxtool
pcxtool=$PWD/$dir/tools/pcxtool
export TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1"

work=$dir/work
rm -rf "$work"
mkdir -p "$work"
cd "$work"

# Images large enough for the two-thread paths (3 MiB of pixels to encode
# on two threads, 4 MiB to decode a page in two parts): noise, which codes
# as literals, between flat bands, which code as runs.
python3 - <<'PY'
import os
def image(name, magic, width, height, channels):
    row = width * channels
    rows = []
    for y in range(height):
        if (y // 97) % 3 == 0:
            rows.append(bytes([40 + (y // 97) % 50]) * row)
        else:
            rows.append(os.urandom(row))
    with open(name, "wb") as f:
        f.write(b"%s\n%d %d\n255\n" % (magic, width, height))
        f.writelines(rows)
image("photo.ppm", b"P6", 2400, 1800, 3)
image("gray.pgm", b"P5", 2600, 1700, 1)
image("small.ppm", b"P6", 640, 480, 3)
# A fax-sized bilevel page, packed eight pixels a byte.
with open("bilevel.pbm", "wb") as f:
    f.write(b"P4\n4800 3600\n")
    f.writelines(bytes(600) if (y // 50) % 2 else os.urandom(600) for y in range(3600))
PY

# The same pixels from a one-thread decode to standard output.
same_as_one_pass() { # pcx, output
  "$pcxtool" decode "$1" "$2"
  "$pcxtool" decode --to "${2##*.}" "$1" - >one-pass.out
  cmp -s one-pass.out "$2" || { echo "test-threads: $2 differs from the one-pass decode" >&2; exit 1; }
}

"$pcxtool" encode --bits 24 photo.ppm photo.pcx
"$pcxtool" encode --bits 8 gray.pgm gray.pcx
"$pcxtool" encode bilevel.pbm bilevel.pcx
same_as_one_pass photo.pcx photo.out.ppm
same_as_one_pass gray.pcx gray.out.pgm
same_as_one_pass bilevel.pcx bilevel.out.pbm

# A DCX file of 40 pages of four kinds, every page decoded, two at a time.
"$pcxtool" encode --bits 24 small.ppm small24.pcx
"$pcxtool" encode --bits 8 small.ppm small8.pcx 2>/dev/null || "$pcxtool" encode --bits 24 small.ppm small8.pcx
pages=()
for i in $(seq 10); do pages+=(small24.pcx small8.pcx bilevel.pcx gray.pcx); done
"$pcxtool" pack many.dcx "${pages[@]}"
"$pcxtool" decode many.dcx page-%d.ppm
[ "$(ls page-*.ppm | wc -l)" = 40 ] || { echo "test-threads: the DCX file did not give 40 pages" >&2; exit 1; }
echo "threads checked: no report from ThreadSanitizer"
