#!/usr/bin/env bash
# Runs the README's examples, as built from C and from C++: each writer's file
# is read back by each reader, among them an RGB file whose lines exceed 65535
# bytes, and each reader reads the corpus files.
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
echo "examples: written and read back"
