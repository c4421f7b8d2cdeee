#!/usr/bin/env bash
# Runs two pcxtool binaries side by side over the same inputs and compares
# everything a user sees: exit status, standard output, standard error and
# every file written. Used when pcxtool's insides change and its behaviour
# must not.
#
# usage: bash tests/tool/compare_tools.sh OLD_PCXTOOL NEW_PCXTOOL [INPUT_DIR...]
# Inputs: the corpus, samples/, tests/magick/ and any folders given (the
# benchmark workloads in build/peers/in, say). Prints a line per difference
# and a summary; exit status 1 when anything differs.
set -uo pipefail
old=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
new=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
shift 2
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cases=0 differences=0

# run_case NAME ARGS...: ARGS with @OUT@ standing for the output folder.
run_case() {
  local name=$1
  shift
  cases=$((cases + 1))
  local side
  for side in old new; do
    local bin=$old
    [ "$side" = new ] && bin=$new
    local out=$work/$side
    rm -rf "$out" && mkdir -p "$out"
    local args=()
    local a
    for a in "$@"; do args+=("${a//@OUT@/$out}"); done
    (cd "$out" && "$bin" "${args[@]}" < /dev/null > "$work/$side.stdout" 2> "$work/$side.stderr")
    echo $? > "$work/$side.status"
    sed -i "s|$out|@OUT@|g" "$work/$side.stdout" "$work/$side.stderr"
  done
  local what=""
  cmp -s "$work/old.status" "$work/new.status" || what="$what status($(cat "$work/old.status")->$(cat "$work/new.status"))"
  cmp -s "$work/old.stdout" "$work/new.stdout" || what="$what stdout"
  cmp -s "$work/old.stderr" "$work/new.stderr" || what="$what stderr"
  if ! diff -r -q "$work/old" "$work/new" > /dev/null; then what="$what files"; fi
  if [ -n "$what" ]; then
    differences=$((differences + 1))
    echo "DIFFERENT:$what: $name"
    if [ -n "${VERBOSE:-}" ]; then diff "$work/old.stderr" "$work/new.stderr" | head -5; fi
  fi
}

inputs=("$root/tests/corpus" "$root/samples" "$root/tests/magick" "$@")
mapfile -t pcx_files < <(find "${inputs[@]}" -maxdepth 1 -type f \( -iname '*.pcx' -o -iname '*.dcx' \) 2>/dev/null | sort)
mapfile -t image_files < <(find "${inputs[@]}" -maxdepth 1 -type f \( -iname '*.png' -o -iname '*.p[bgpan]m' \) 2>/dev/null | sort)

for f in "${pcx_files[@]}"; do
  run_case "info $f" info "$f"
  run_case "info --json $f" info --json "$f"
  run_case "check $f" check "$f"
  run_case "check --json --strict $f" check --json --strict "$f"
  run_case "repair $f" repair -v "$f" "@OUT@/r.${f##*.}"
  for ext in pnm png pbm pgm ppm; do
    run_case "decode $f .$ext" decode -v "$f" @OUT@/d.$ext
  done
  run_case "decode --partial $f" decode --partial "$f" @OUT@/d.pnm
  run_case "decode to stdout $f" decode --page 0 "$f" -
  run_case "decode --max-pixels 100 $f" decode --max-pixels 100 "$f" @OUT@/d.pnm
  run_case "unpack $f" unpack -v "$f" @OUT@/u
  run_case "pack $f" pack -v @OUT@/p.dcx "$f" "$f"
  run_case "pack to stdout $f" pack - "$f"
  # Every page decoded and encoded again, in each layout its colours allow.
  rm -rf "$work/pages" && mkdir -p "$work/pages"
  "$old" decode "$f" "$work/pages/page%d.ppm" > /dev/null 2>&1
  "$old" decode "$f" "$work/pages/page%d.png" > /dev/null 2>&1
  for page in "$work"/pages/*; do
    [ -e "$page" ] || continue
    run_case "encode $f $(basename "$page")" encode -v "$page" @OUT@/e.pcx
    run_case "encode to stdout $f $(basename "$page")" encode "$page" -
    case $page in *.png) continue ;; esac
    for bits in 1 4 8 24; do
      run_case "encode --bits $bits $f $(basename "$page")" encode --bits $bits "$page" @OUT@/e.pcx
    done
    run_case "encode --align-palette --dpi 300x150 $f $(basename "$page")" encode --align-palette --dpi 300x150 "$page" @OUT@/e.pcx
  done
done

for f in "${image_files[@]}"; do
  run_case "encode $f" encode -v "$f" @OUT@/e.pcx
  run_case "encode --align-palette $f" encode --align-palette "$f" @OUT@/e.pcx
  run_case "encode --bits 8 $f" encode --bits 8 "$f" @OUT@/e.pcx
  run_case "encode --max-pixels 10 $f" encode --max-pixels 10 "$f" @OUT@/e.pcx
done

# Refusals and failures: messages and exit statuses.
sample=$root/samples/sample.dcx
printf 'not a pcx file at all' > "$work/junk.pcx"
printf '\n\005\001\010' > "$work/short.pcx"
head -c 3000 "$sample" > "$work/cut.dcx"
# A page large enough for two threads, cut in its first and in its second part.
python3 -c "
import random
random.seed(7)
w, h = 1300, 1200
open('$work/large.ppm', 'wb').write(b'P6\\n%d %d\\n255\\n' % (w, h) + bytes(random.getrandbits(8) for _ in range(w * h * 3)))"
"$old" encode --bits 24 "$work/large.ppm" "$work/large.pcx" 2> /dev/null
size=$(stat -c %s "$work/large.pcx")
head -c $((size / 4)) "$work/large.pcx" > "$work/large_first.pcx"
head -c $((size * 9 / 10)) "$work/large.pcx" > "$work/large_second.pcx"
for cut in first second; do
  run_case "decode large cut in the $cut part" decode "$work/large_$cut.pcx" @OUT@/d.ppm
  run_case "decode --partial large cut in the $cut part" decode --partial "$work/large_$cut.pcx" @OUT@/d.ppm
done
run_case "encode large" encode "$work/large.ppm" @OUT@/e.pcx
run_case "no command"
run_case "unknown command" frobnicate
run_case "help" --help
run_case "version" --version
for command in info decode encode pack unpack check repair; do
  run_case "$command --help" $command --help
  run_case "$command without arguments" $command
  run_case "$command --bogus" $command --bogus x y
done
run_case "info missing" info "$work/missing.pcx"
run_case "info junk" info "$work/junk.pcx" "$sample"
run_case "info short" info --json "$work/short.pcx"
run_case "info cut" info "$work/cut.dcx"
run_case "decode cut" decode "$work/cut.dcx" @OUT@/d.pnm
run_case "decode cut --partial" decode --partial "$work/cut.dcx" @OUT@/d.pnm
run_case "decode bad page" decode --page 9 "$sample" @OUT@/d.pnm
run_case "decode bad pattern" decode "$sample" @OUT@/d%q.pnm
run_case "decode bad format" decode "$sample" @OUT@/d.gif
run_case "decode png of pages to stdout" decode --to png "$sample" -
run_case "decode pgm of colour" decode --page 4 "$sample" @OUT@/d.pgm
run_case "decode over input" decode "$sample" "$sample"
run_case "encode junk" encode "$work/junk.pcx" @OUT@/e.pcx
run_case "encode bad bits" encode --bits 5 "$work/junk.pcx" @OUT@/e.pcx
run_case "encode to gif" encode --to gif "$work/junk.pcx" @OUT@/e.pcx
run_case "unpack pcx" unpack "$root/tests/magick/gm_bw_stored_w1.pcx" @OUT@/u
run_case "unpack to stdout" unpack "$sample" -
run_case "pack junk" pack @OUT@/p.dcx "$sample" "$work/junk.pcx"
run_case "pack stdin twice" pack @OUT@/p.dcx - -
run_case "repair junk" repair "$work/junk.pcx" @OUT@/r.pcx

echo "$cases cases, $differences different"
[ "$differences" -eq 0 ]
