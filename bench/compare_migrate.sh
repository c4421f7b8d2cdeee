#!/usr/bin/env bash
# Times `pcxtool migrate` on a tree of 1,000 files (compare_peers.sh's
# workloads and the test corpus, copied round-robin into folders) against
# ImageMagick 6, GraphicsMagick and Pillow converting the same files to TIFF,
# one process per file through `xargs -P` on the same cores, and prints files
# per second for each and the ratio pcxtool / fastest other (above 1: pcxtool
# converts more files per second). migrate also verifies and hashes every
# output and writes its manifest; the others only convert. A file a program
# refuses (ImageMagick's resource policy and the 50-page DCX) still counts as
# handled: the time is what the run took.
#
# usage: bash bench/compare_migrate.sh [--files N] [--jobs N] [--work DIR] [--pcxtool PATH]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

files=1000
jobs=$(nproc)
work=build/peers
pcxtool=
while [ $# -gt 0 ]; do
  case "$1" in
    --files) files=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --pcxtool) pcxtool=$2; shift 2 ;;
    -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
    *) echo "compare_migrate.sh: unknown argument '$1'" >&2; exit 2 ;;
  esac
done

source scripts/install-missing.sh
install_missing imagemagick graphicsmagick python3-pil
magick=$(command -v convert-im6.q16 || command -v convert)

if [ -z "$pcxtool" ]; then
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build/release -j 2 --target pcxtool >/dev/null
  pcxtool=$root/build/release/tools/pcxtool
fi
pcxtool=$(cd "$(dirname "$pcxtool")" && pwd)/$(basename "$pcxtool")
# The workloads are compare_peers.sh's, made there once.
if [ ! -f "$work/inputs/done" ]; then
  echo "making the workloads with compare_peers.sh (one short round)"
  bash bench/compare_peers.sh --rounds 1 --runs 1 --work "$work" --pcxtool "$pcxtool" >/dev/null
fi
cd "$work"
work=$PWD

# --- the tree ------------------------------------------------------------------
tree=migrate/src
if [ ! -f "migrate/tree.$files" ]; then
  rm -rf migrate
  mkdir -p "$tree"
  mapfile -t sources < <(ls inputs/*.pcx inputs/*.dcx "$root"/tests/corpus/*.pcx "$root"/tests/corpus/*.dcx)
  for ((k = 0; k < files; ++k)); do
    from=${sources[k % ${#sources[@]}]}
    folder=$tree/$((k / 100))
    mkdir -p "$folder"
    cp "$from" "$folder/$k.$(basename "$from")"
  done
  (cd "$tree" && find . -type f | sort) >migrate/list
  touch "migrate/tree.$files"
fi
bytes=$(du -sb "$tree" | cut -f1)
echo "tree: $files files, $((bytes / 1000000)) MB, $jobs jobs"

# --- timing ----------------------------------------------------------------------
declare -A rate
run() { # NAME COMMAND...: wall time of the command, as files per second
  local name=$1; shift
  rm -rf migrate/out && mkdir -p migrate/out
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || true
  end=$(date +%s.%N)
  local made
  made=$(find migrate/out -type f -name '*.tif' | wc -l)
  rate[$name]=$(python3 -c "print('%.1f' % ($files / ($end - $start)))")
  printf '  %-15s %8.1f s  %8s files/s  (%d TIFF files)\n' "$name" "$(python3 -c "print($end - $start)")" \
    "${rate[$name]}" "$made"
}
# One process per file, its output named after its path.
each() { # COMMAND-TEMPLATE, with $1 the input and $2 the output
  (cd "$tree" && xargs -a ../list -P "$jobs" -I{} sh -c "$1" _ {} "$work/migrate/out/{}.tif")
}
peer_dirs() { (cd "$tree" && find . -type d -exec mkdir -p "$work/migrate/out/{}" \;); }

echo "converting every file to TIFF:"
run pcxtool "$pcxtool" migrate --jobs "$jobs" "$tree" migrate/out
peer_dirs_run() { peer_dirs; each "$1"; }
run ImageMagick peer_dirs_run "$magick \"\$1\" \"\$2\""
run GraphicsMagick peer_dirs_run "gm convert \"\$1\" \"\$2\""
run Pillow peer_dirs_run "python3 -c 'import sys; from PIL import Image; Image.open(sys.argv[1]).save(sys.argv[2], save_all=True)' \"\$1\" \"\$2\""
best=$(printf '%s\n' "${rate[ImageMagick]}" "${rate[GraphicsMagick]}" "${rate[Pillow]}" | sort -g | tail -1)
echo "pcxtool migrate / fastest other: $(python3 -c "print('%.1f' % (${rate[pcxtool]} / $best))") times the files per second"
