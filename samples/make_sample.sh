#!/usr/bin/env bash
# Rebuilds sample.dcx: five pages drawn with integer arithmetic in awk as
# plain PNM images, each encoded to PCX by pcxtool in its own layout, then
# packed into one DCX file. The same pcxtool gives the same bytes.
#
# usage: samples/make_sample.sh [OUT.dcx]     (default: samples/sample.dcx)
# PCXTOOL names the pcxtool binary (default: build/tools/pcxtool).
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
pcxtool="${PCXTOOL:-$root/build/tools/pcxtool}"
out="${1:-$here/sample.dcx}"
if [ ! -x "$pcxtool" ]; then
  echo "make_sample.sh: no pcxtool at $pcxtool; build it (scripts/demo.sh does) or set PCXTOOL" >&2
  exit 2
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Page 0, 1-bit bilevel, 192 x 128: concentric rings in a frame.
awk 'BEGIN {
  w = 192; h = 128; print "P1"; print w, h
  for (y = 0; y < h; y++) {
    line = ""
    for (x = 0; x < w; x++) {
      d = (x - 96) * (x - 96) + (y - 64) * (y - 64)
      black = (x < 4 || y < 4 || x >= w - 4 || y >= h - 4) ? 1 : int(d / 256) % 2
      line = line black
    }
    print line
  }
}' > "$work/page0.pbm"

# Page 1, 4 bit planes, 160 x 100: diagonal stripes in the 16 classic
# display colours.
awk 'BEGIN {
  split("0 0 0|0 0 170|0 170 0|0 170 170|170 0 0|170 0 170|170 85 0|170 170 170|" \
        "85 85 85|85 85 255|85 255 85|85 255 255|255 85 85|255 85 255|255 255 85|255 255 255", colour, "|")
  w = 160; h = 100; print "P3"; print w, h; print 255
  for (y = 0; y < h; y++)
    for (x = 0; x < w; x++)
      print colour[(int(x / 10) + int(y / 10)) % 16 + 1]
}' > "$work/page1.ppm"

# Page 2, 8-bit palette, 128 x 128: 8 reds across, 8 greens down and 4 blues
# in a fine checker: 256 colours.
awk 'BEGIN {
  w = 128; h = 128; print "P3"; print w, h; print 255
  for (y = 0; y < h; y++)
    for (x = 0; x < w; x++)
      print int(x / 16) * 36, int(y / 16) * 36, (int(x / 4) + int(y / 4)) % 4 * 85
}' > "$work/page2.ppm"

# Page 3, 8-bit grayscale, 96 x 96: a moire of gray levels.
awk 'BEGIN {
  w = 96; h = 96; print "P2"; print w, h; print 255
  for (y = 0; y < h; y++)
    for (x = 0; x < w; x++)
      print (x * 3 + y * 2 + int(x * y / 8)) % 256
}' > "$work/page3.pgm"

# Page 4, 24-bit RGB, 200 x 80: red across, green down, a blue pattern.
awk 'BEGIN {
  w = 200; h = 80; print "P3"; print w, h; print 255
  for (y = 0; y < h; y++)
    for (x = 0; x < w; x++)
      print int(255 * x / (w - 1)), int(255 * y / (h - 1)), (x * y) % 256
}' > "$work/page4.ppm"

"$pcxtool" encode --bits 1 --dpi 200 "$work/page0.pbm" "$work/page0.pcx"
"$pcxtool" encode --bits 4 "$work/page1.ppm" "$work/page1.pcx"
"$pcxtool" encode --bits 8 "$work/page2.ppm" "$work/page2.pcx"
"$pcxtool" encode --bits 8 "$work/page3.pgm" "$work/page3.pcx"
"$pcxtool" encode --bits 24 --dpi 150 "$work/page4.ppm" "$work/page4.pcx"
"$pcxtool" pack "$out" "$work"/page0.pcx "$work"/page1.pcx "$work"/page2.pcx "$work"/page3.pcx "$work"/page4.pcx
