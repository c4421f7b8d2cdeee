#!/usr/bin/env bash
# The example host pages_to_pnm over every PCX and DCX file of the corpus:
# each page it writes is byte for byte the PNM pcxtool writes for that page,
# and it fails exactly where pcxtool refuses the file.
set -uo pipefail
example=$1 pcxtool=$2 corpus=$3 work=$4
rm -rf "$work" && mkdir -p "$work"
failures=0 files=0
for f in "$corpus"/*.pcx "$corpus"/*.dcx; do
  [ -e "$f" ] || continue
  files=$((files + 1))
  name=$(basename "$f")
  "$example" "$f" "$work/$name.ex" 2> /dev/null
  ours=$?
  "$pcxtool" decode "$f" "$work/$name.tool%d.pnm" 2> /dev/null
  theirs=$?
  if [ $((ours != 0)) -ne $((theirs != 0)) ]; then
    echo "$name: pages_to_pnm exits $ours, pcxtool $theirs"
    failures=$((failures + 1))
    continue
  fi
  for page in "$work/$name".tool*.pnm; do
    [ -e "$page" ] || continue
    n=${page##*.tool}
    if ! cmp -s "$page" "$work/$name.ex$n"; then
      echo "$name: page ${n%.pnm} differs from pcxtool's"
      failures=$((failures + 1))
    fi
  done
done
echo "$files files, $failures failures"
[ "$failures" -eq 0 ] && [ "$files" -gt 0 ]
