#!/usr/bin/env bash
# Times pcxtool against the other PCX programs on this machine (netpbm,
# ImageMagick 6, Pillow), whole processes on the same workloads, and prints
# the median ratio pcxtool / other for each pair (below 1: pcxtool is faster);
# GraphicsMagick joins the row that writes a Group 4 TIFF file.
#
# The workloads are made by the other programs' own writers: a 3000 x 2000
# 24-bit photo with noise, the same quantised to 256 colours, a flat run-heavy
# 8-bit image, a 1728 x 2200 bilevel fax page and a DCX of 50 such pages.
#
# Each round times every command of a row once (hyperfine, a few runs, their
# median) before the next round begins, so the commands of a pair alternate
# and share the machine's state; the ratio is the median over the rounds.
#
# With --baseline PATH another pcxtool binary (an earlier build, say) runs
# every pcxtool command too, in the same rounds, and a column gives the ratio
# pcxtool / baseline (above 1: slower than the baseline).
#
# usage: bash bench/compare_peers.sh [--rounds N] [--runs N] [--work DIR] [--pcxtool PATH] [--baseline PATH]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

rounds=7
runs=3
work=build/peers
pcxtool=
baseline=
while [ $# -gt 0 ]; do
  case "$1" in
    --rounds) rounds=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --pcxtool) pcxtool=$2; shift 2 ;;
    --baseline) baseline=$2; shift 2 ;;
    -h|--help) sed -n '2,18p' "$0"; exit 0 ;;
    *) echo "compare_peers.sh: unknown argument '$1'" >&2; exit 2 ;;
  esac
done

# What the comparison needs, installed when missing.
source scripts/install-missing.sh
install_missing hyperfine netpbm imagemagick graphicsmagick python3-pil

# ImageMagick's own binary, not a wrapper that may stand in front of it.
magick=$(command -v convert-im6.q16 || command -v convert)
# The system's Python, which is the one with Pillow.
python=
for candidate in /usr/bin/python3 "$(command -v python3 || true)"; do
  if [ -x "$candidate" ] && "$candidate" -c 'import PIL' 2>/dev/null; then python=$candidate; break; fi
done
[ -n "$python" ] || { echo "compare_peers.sh: no python3 with Pillow" >&2; exit 1; }

if [ -z "$pcxtool" ]; then
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build/release -j 2 --target pcxtool >/dev/null
  pcxtool=$root/build/release/tools/pcxtool
fi
pcxtool=$(cd "$(dirname "$pcxtool")" && pwd)/$(basename "$pcxtool")
if [ -n "$baseline" ]; then baseline=$(cd "$(dirname "$baseline")" && pwd)/$(basename "$baseline"); fi

mkdir -p "$work"
cd "$work"
in=inputs
out=outputs
mkdir -p "$in" "$out"

# --- workloads, made once and kept -------------------------------------------
pil() { "$python" -c "$1" "${@:2}"; }
if [ ! -f "$in/done" ]; then
  echo "making the workloads (once) in $work/$in"
  "$magick" -size 3000x2000 -seed 7 plasma:grey25-white -attenuate 1.5 +noise Gaussian -depth 8 "$in/photo24.ppm"
  ppmtopcx -24bit "$in/photo24.ppm" >"$in/photo24.pcx" 2>/dev/null
  "$magick" "$in/photo24.ppm" +dither -colors 256 -depth 8 "$in/photo8.ppm"
  ppmtopcx -8bit "$in/photo8.ppm" >"$in/photo8.pcx" 2>/dev/null
  "$magick" -size 3000x2000 xc:'#336699' -fill '#cc3311' -draw 'rectangle 200,150 1400,900' \
    -fill '#ffee22' -draw 'circle 2000,1200 2000,1800' -fill '#22aa55' -draw 'polygon 100,1900 1500,1100 2900,1950' \
    +dither -colors 256 -depth 8 "$in/flat8.ppm"
  "$magick" "$in/flat8.ppm" -type Palette "$in/flat8.pcx"
  # Fax pages: typed text, two pixels a dot, on a 1728 x 2200 page; Pillow
  # writes each page. None of the three writes a 50-page DCX file here
  # (ImageMagick's resource policy refuses to hold 50 pages), so its
  # directory, a signature and the pages' offsets, is put in front of them.
  for page in $(seq -w 1 50); do
    for line in $(seq 1 60); do
      echo "Page $page line $line: the quick brown fox jumps over the lazy dog; pack my box with five dozen jugs."
    done | pbmtext -builtin bdf 2>/dev/null | pamenlarge 2 |
      pnmpad -white -width 1728 -height 2200 -halign 0.3 -valign 0.2 >"$in/fax$page.pbm"
  done
  pil 'import sys; from PIL import Image
for name in sys.argv[1:]: Image.open(name).save(name[:-3] + "pcx")' "$in"/fax*.pbm
  pil 'import struct, sys
pages = [open(name, "rb").read() for name in sys.argv[2:]]
offset = 4 * (len(pages) + 2)
directory = struct.pack("<I", 987654321)
for page in pages:
    directory += struct.pack("<I", offset)
    offset += len(page)
open(sys.argv[1], "wb").write(directory + struct.pack("<I", 0) + b"".join(pages))' "$in/fax50.dcx" "$in"/fax??.pcx
  cp "$in/fax01.pcx" "$in/fax.pcx"
  cp "$in/fax01.pbm" "$in/fax.pbm"
  touch "$in/done"
fi

# --- timing ------------------------------------------------------------------
declare -A seconds # "row|command|round" -> median seconds of that round

# time_once ROW NAME ROUND OUTPUT_GLOB COMMAND: one round of one command. The
# outputs are removed before every run, so no run pays for releasing the
# previous run's file.
time_once() {
  local row=$1 name=$2 round=$3 outputs=$4 command=$5
  hyperfine --runs "$runs" --style none --prepare "rm -f $outputs" --export-json timing.json "$command" >/dev/null 2>&1 ||
    { echo "failed: $command" >&2; seconds["$row|$name|$round"]=nan; return; }
  seconds["$row|$name|$round"]=$("$python" -c 'import json; print(json.load(open("timing.json"))["results"][0]["median"])')
}

declare -a row_order
declare -A row_commands row_tags

# add_row TAG ROW "NAME=COMMAND" ...: the first command is pcxtool's; each
# command writes $out/TAG.NAME.*
add_row() {
  local tag=$1 row=$2; shift 2
  row_order+=("$row")
  row_tags["$row"]=$tag
  local commands=("$@")
  if [ -n "$baseline" ]; then # the same command with the baseline binary, second
    local ours=${1#pcxtool=}
    ours=${ours//$pcxtool/$baseline}
    commands=("$1" "baseline=${ours//.pcxtool./.baseline.}" "${@:2}")
  fi
  row_commands["$row"]=$(printf '%s\n' "${commands[@]}")
}

P='import sys; from PIL import Image'
add_row d24 "decode 24-bit photo to PPM" \
  "pcxtool=$pcxtool decode $in/photo24.pcx $out/d24.pcxtool.ppm" \
  "netpbm=pcxtoppm $in/photo24.pcx > $out/d24.netpbm.ppm" \
  "ImageMagick=$magick $in/photo24.pcx $out/d24.ImageMagick.ppm" \
  "Pillow=$python -c '$P; Image.open(sys.argv[1]).convert(\"RGB\").save(sys.argv[2])' $in/photo24.pcx $out/d24.Pillow.ppm" \
  "cp=cp $in/photo24.ppm $out/d24.cp.ppm"
add_row d8 "decode 8-bit photo to PPM" \
  "pcxtool=$pcxtool decode $in/photo8.pcx $out/d8.pcxtool.ppm" \
  "netpbm=pcxtoppm $in/photo8.pcx > $out/d8.netpbm.ppm" \
  "ImageMagick=$magick $in/photo8.pcx $out/d8.ImageMagick.ppm" \
  "Pillow=$python -c '$P; Image.open(sys.argv[1]).convert(\"RGB\").save(sys.argv[2])' $in/photo8.pcx $out/d8.Pillow.ppm" \
  "cp=cp $in/photo8.ppm $out/d8.cp.ppm"
add_row df "decode flat 8-bit to PPM" \
  "pcxtool=$pcxtool decode $in/flat8.pcx $out/df.pcxtool.ppm" \
  "netpbm=pcxtoppm $in/flat8.pcx > $out/df.netpbm.ppm" \
  "ImageMagick=$magick $in/flat8.pcx $out/df.ImageMagick.ppm" \
  "Pillow=$python -c '$P; Image.open(sys.argv[1]).convert(\"RGB\").save(sys.argv[2])' $in/flat8.pcx $out/df.Pillow.ppm" \
  "cp=cp $in/flat8.ppm $out/df.cp.ppm"
add_row dx "decode fax page to PPM" \
  "pcxtool=$pcxtool decode $in/fax.pcx $out/dx.pcxtool.ppm" \
  "netpbm=pcxtoppm $in/fax.pcx > $out/dx.netpbm.ppm" \
  "ImageMagick=$magick $in/fax.pcx $out/dx.ImageMagick.ppm" \
  "Pillow=$python -c '$P; Image.open(sys.argv[1]).convert(\"RGB\").save(sys.argv[2])' $in/fax.pcx $out/dx.Pillow.ppm" \
  "cp=cp $out/dx.size.ppm $out/dx.cp.ppm"
add_row dd "decode 50-page fax DCX to PBM" \
  "pcxtool=$pcxtool decode $in/fax50.dcx $out/dd.pcxtool.%02d.pbm" \
  "ImageMagick=$magick $in/fax50.dcx $out/dd.ImageMagick.%02d.pbm" \
  "Pillow=$python -c '$P; im = Image.open(sys.argv[1]); [(im.seek(n), im.save(sys.argv[2] % n)) for n in range(im.n_frames)]' $in/fax50.dcx $out/dd.Pillow.%02d.pbm"
# The archive's job: every page of the fax DCX in one Group 4 TIFF file.
add_row dt "50-page fax DCX to Group 4 TIFF" \
  "pcxtool=$pcxtool decode $in/fax50.dcx $out/dt.pcxtool.tif" \
  "ImageMagick=$magick $in/fax50.dcx -compress Group4 $out/dt.ImageMagick.tif" \
  "GraphicsMagick=gm convert $in/fax50.dcx -compress Group4 $out/dt.GraphicsMagick.tif"
add_row dp "decode 24-bit photo to PNG" \
  "pcxtool=$pcxtool decode $in/photo24.pcx $out/dp.pcxtool.png" \
  "ImageMagick=$magick $in/photo24.pcx $out/dp.ImageMagick.png" \
  "Pillow=$python -c '$P; Image.open(sys.argv[1]).save(sys.argv[2])' $in/photo24.pcx $out/dp.Pillow.png"
add_row e24 "encode 24-bit" \
  "pcxtool=$pcxtool encode $in/photo24.ppm $out/e24.pcxtool.pcx" \
  "netpbm=ppmtopcx -24bit $in/photo24.ppm > $out/e24.netpbm.pcx 2>/dev/null" \
  "ImageMagick=$magick $in/photo24.ppm $out/e24.ImageMagick.pcx" \
  "Pillow=$python -c '$P; Image.open(sys.argv[1]).save(sys.argv[2])' $in/photo24.ppm $out/e24.Pillow.pcx"
add_row e8 "encode 8-bit (256 colours)" \
  "pcxtool=$pcxtool encode $in/photo8.ppm $out/e8.pcxtool.pcx" \
  "netpbm=ppmtopcx -8bit $in/photo8.ppm > $out/e8.netpbm.pcx 2>/dev/null" \
  "ImageMagick=$magick $in/photo8.ppm -type Palette $out/e8.ImageMagick.pcx"

# The floor for the fax page: copying a file of its PPM's size.
"$pcxtool" decode "$in/fax.pcx" "$out/dx.size.ppm" >/dev/null

echo "timing: $rounds rounds of $runs runs per command"
for round in $(seq 1 "$rounds"); do
  for row in "${row_order[@]}"; do
    while IFS= read -r entry; do
      name=${entry%%=*}
      command=${entry#*=}
      time_once "$row" "$name" "$round" "$out/${row_tags[$row]}.$name.*" "$command"
    done <<<"${row_commands[$row]}"
  done
  echo "  round $round of $rounds done"
done

# --- the table ----------------------------------------------------------------
dump() {
  for key in "${!seconds[@]}"; do printf '%s\t%s\n' "$key" "${seconds[$key]}"; done
}
{
  printf '%s\n' "${row_order[@]}" | sed 's/^/ROW\t/'
  dump
} | "$python" -c '
import sys, statistics
rows, t = [], {}
for line in sys.stdin:
    parts = line.rstrip("\n").split("\t")
    if parts[0] == "ROW":
        rows.append(parts[1]); continue
    row, name, rnd = parts[0].split("|")
    t.setdefault(row, {}).setdefault(name, {})[int(rnd)] = float(parts[1])
peers = ["netpbm", "ImageMagick", "GraphicsMagick", "Pillow", "cp"] + (["baseline"] if any("baseline" in t[r] for r in rows) else [])
def ratio(row, peer):
    ours, theirs = t[row].get("pcxtool", {}), t[row].get(peer)
    if not theirs: return ""
    r = [ours[k] / theirs[k] for k in ours if k in theirs and theirs[k] == theirs[k] and theirs[k] > 0]
    return "%.2f" % statistics.median(r) if r else "failed"
print()
extra = " vs baseline |" if "baseline" in peers else ""
print("| workload | pcxtool ms | vs netpbm | vs ImageMagick 6 | vs GraphicsMagick | vs Pillow | vs cp of the output |" + extra)
print("|---|---|---|---|---|---|---|" + ("---|" if extra else ""))
for row in rows:
    ms = statistics.median(t[row]["pcxtool"].values()) * 1000
    cells = [ratio(row, p) for p in peers]
    print("| %s | %.1f | %s |" % (row, ms, " | ".join(c if c else "" for c in cells)))
print()
print("median milliseconds per command:")
for row in rows:
    print("  %-32s %s" % (row, "  ".join("%s %.1f" % (n, statistics.median(v.values()) * 1000) for n, v in t[row].items())))
'

# Sizes of the PNG files, which the PNG row compares at equal or smaller size.
echo
echo "PNG sizes (bytes):"
for name in pcxtool ImageMagick Pillow; do
  printf '  %-12s %s\n' "$name" "$(stat -c %s "$out/dp.$name.png" 2>/dev/null || echo missing)"
done
# The decoded images must be the same for the ratios to mean anything.
echo
echo "checks against netpbm's decoding:"
for tag in d24 d8 df dx; do
  if cmp -s "$out/$tag.pcxtool.ppm" "$out/$tag.netpbm.ppm"; then echo "  $tag: same pixels"; else echo "  $tag: DIFFERENT"; fi
done
if pngtopam "$out/dp.pcxtool.png" 2>/dev/null | cmp -s - "$out/d24.netpbm.ppm"; then echo "  PNG: same pixels"; else echo "  PNG: DIFFERENT"; fi
