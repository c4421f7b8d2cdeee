#!/usr/bin/env bash
# Runs the README's examples, as built from C and from C++: each writer's file
# is read back by each reader, among them an RGB file whose lines exceed 65535
# bytes, and each reader reads the corpus files; describe describes two.
set -euo pipefail
bin=$1 corpus=$2 work=$3
mkdir -p "$work"
for lang in "" _cxx; do
  for shape in "22000 8 rgb" "301 17 palette" "1 1 rgb"; do
    out="$work/written${lang}.pcx"
    # shellcheck disable=SC2086
    "$bin/iffpcx_write_image$lang" "$out" $shape
    "$bin/iffpcx_read_image" "$out"
    "$bin/iffpcx_read_image_cxx" "$out"
  done
  for f in "$corpus"/*.pcx "$corpus"/*.dcx; do "$bin/iffpcx_read_image$lang" "$f" > /dev/null; done
  # A line that the file cannot hold: refused, and no file is left.
  if "$bin/iffpcx_write_image$lang" "$work/too_wide.pcx" 65535 1 rgb 2> /dev/null; then exit 1; fi
  [ ! -e "$work/too_wide.pcx" ]
done
# describe numbers pages from 0, as pcxtool does, and counts in good English.
expected="$corpus/np_pages.dcx: 4 pages
  page 0: 101 x 61, palette colour, 4 bits, 101 x 61 dpi
  page 1: 333 x 17, RGB, 8 bits, 333 x 17 dpi
  page 2: 129 x 17, palette colour, 2 bits, 129 x 17 dpi
  page 3: 31 x 61, bilevel, 1 bit, 31 x 61 dpi
$corpus/np_bilevel.pcx: 1 page
  page 0: 257 x 61, bilevel, 1 bit, 257 x 61 dpi"
described=$("$bin/iffpcx_describe" "$corpus/np_pages.dcx" "$corpus/np_bilevel.pcx")
if [ "$described" != "$expected" ]; then
  diff <(echo "$expected") <(echo "$described") || true
  exit 1
fi
echo "examples: written and read back; described"
