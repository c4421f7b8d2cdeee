#!/usr/bin/env bash
# Regenerates the files in this folder: PCX and DCX files written by
# ImageMagick (`convert`) and GraphicsMagick (`gm convert`), each beside the
# image the writing program reads back from it (`.pam` for pages with alpha,
# `.ppm` for the others). The suite only reads the results; run this by hand
# after changing the list below, and commit what it writes.
#
# Kinds, at widths 1, 3, 13, 33 and 65, 7 lines each:
#   rgba_stored  32 bits (red, green, blue, alpha planes), lines stored as they are
#   rgba_coded   32 bits, run-length coded
#   rgb_stored   24 bits, stored
#   pal_stored   8 bits with a 256-colour palette block, stored
#   bw_stored    1 bit, stored (GraphicsMagick only: ImageMagick sets the bits
#                of its 1-bit pages against the black-and-white colour map it
#                writes beside them, so its own reading and others' differ)
# and per program two DCX files: `stored.dcx` (pages of the stored kinds,
# widths differing) and `rgba.dcx` (coded 32-bit pages), with `.pN` references.
#
# Each reference is checked against the source image, so it is also the
# image the program was given.
set -euo pipefail
cd "$(dirname "$0")"
source ../../scripts/install-missing.sh
install_missing imagemagick graphicsmagick python3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
widths=(1 3 13 33 65)
height=7

# Source images with every byte value likely, so stored bytes of 0xC0 and
# above occur on every line; fixed seeds keep them the same from run to run.
python3 - "$work" "$height" "${widths[@]}" <<'EOF'
import random, sys
work, height, widths = sys.argv[1], int(sys.argv[2]), [int(w) for w in sys.argv[3:]]
for w in widths:
    rnd = random.Random(w)
    def put(name, header, data):
        with open(f"{work}/{name}_w{w}", "wb") as f:
            f.write(header + bytes(data))
    rgba = [rnd.randrange(256) for _ in range(w * height * 4)]
    for i in range(3, len(rgba), 4 * 5):   # fully transparent and opaque pixels too
        rgba[i] = (0, 255)[i // 20 % 2]
    put("rgba.pam", b"P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n" % (w, height), rgba)
    put("rgb.ppm", b"P6\n%d %d\n255\n" % (w, height), [rnd.randrange(256) for _ in range(w * height * 3)])
    colours = [[rnd.randrange(256) for _ in range(3)] for _ in range(40)]
    put("pal.ppm", b"P6\n%d %d\n255\n" % (w, height), [c for _ in range(w * height) for c in rnd.choice(colours)])
    put("bw.pbm", b"P4\n%d %d\n" % (w, height), [rnd.randrange(256) for _ in range((w + 7) // 8 * height)])
EOF

src() { echo "$work/$1_w$2"; } # kind width

# Writes one page of a kind with program "$1" ("convert" or "gm convert").
write_page() { # program kind width out.pcx
  local program=$1 kind=$2 width=$3 out=$4
  case $kind in
  rgba_stored) $program "$(src rgba.pam "$width")" -compress None "$out" ;;
  rgba_coded) $program "$(src rgba.pam "$width")" -compress RLE "$out" ;;
  rgb_stored) $program "$(src rgb.ppm "$width")" -compress None "$out" ;;
  pal_stored) $program "$(src pal.ppm "$width")" -type Palette -compress None "$out" ;;
  bw_stored) # through a 2-colour palette image, which both write as 1 bit;
    # a GIF keeps black as colour 0
    $program "$(src bw.pbm "$width")" "gif:$work/bw.gif"
    $program "$work/bw.gif" -compress None "$out" ;;
  esac
}

source_of() { # kind width
  case $1 in
  rgba_*) src rgba.pam "$2" ;;
  rgb_*) src rgb.ppm "$2" ;;
  pal_*) src pal.ppm "$2" ;;
  bw_*) src bw.pbm "$2" ;;
  esac
}

# The program reads back page $3 of $2 into $4 (.pam or .ppm by its kind) and
# the result must equal the source image, converted by the same program.
reference() { # program file page kind width out
  local program=$1 file=$2 page=$3 kind=$4 width=$5 out=$6 type=ppm
  [[ $kind == rgba_* ]] && type=pam
  $program "$file[$page]" -depth 8 "$type:$out"
  $program "$(source_of "$kind" "$width")" -depth 8 "$type:$work/check"
  cmp -s "$out" "$work/check" || { echo "$out: $program reads back another image than it was given" >&2; exit 1; }
}

rm -f ./*.pcx ./*.dcx ./*.pam ./*.ppm
for tag in im gm; do
  program=convert
  [[ $tag == gm ]] && program="gm convert"
  kinds=(rgba_stored rgba_coded rgb_stored pal_stored)
  [[ $tag == gm ]] && kinds+=(bw_stored)
  for kind in "${kinds[@]}"; do
    for width in "${widths[@]}"; do
      name="${tag}_${kind}_w${width}"
      write_page "$program" "$kind" "$width" "$name.pcx"
      ext=ppm
      [[ $kind == rgba_* ]] && ext=pam
      reference "$program" "$name.pcx" 0 "$kind" "$width" "$name.$ext"
    done
  done

  # Multi-page files, gathered by the program from pages it wrote; the
  # whole file takes one encoding.
  for set in stored rgba; do
    if [[ $set == stored ]]; then
      pages=(rgba_stored:65 rgb_stored:33 pal_stored:13 rgba_stored:1) compress=None
      [[ $tag == gm ]] && pages+=(bw_stored:3)
    else
      pages=(rgba_coded:1 rgba_coded:13 rgba_coded:65) compress=RLE
    fi
    inputs=()
    for i in "${!pages[@]}"; do
      write_page "$program" "${pages[$i]%%:*}" "${pages[$i]##*:}" "$work/page$i.pcx"
      inputs+=("$work/page$i.pcx")
    done
    $program "${inputs[@]}" -compress $compress "${tag}_$set.dcx"
    for i in "${!pages[@]}"; do
      kind=${pages[$i]%%:*}
      ext=ppm
      [[ $kind == rgba_* ]] && ext=pam
      reference "$program" "${tag}_$set.dcx" "$i" "$kind" "${pages[$i]##*:}" "${tag}_$set.p$i.$ext"
    done
  done
done
echo "wrote $(ls ./*.pcx ./*.dcx | wc -l) files and their references"
