#!/usr/bin/env bash
# Runs the C examples built for Windows under Wine and the same examples built
# on Linux on the same files, and fails unless they print the same lines: the
# description and the checksum of every file, whatever the width of long.
# load_by_ordinal, which reaches the DLL by ordinal, must print the checksum
# that read_image prints.
# usage: compare_examples.sh LINUX_BIN WINDOWS_BIN WINE_RUN ARCH PREFIX FILE...
set -euo pipefail
linux=$1 windows=$2 wine_run=$3 arch=$4 prefix=$5
shift 5
on_windows() { "$wine_run" "$arch" "$prefix" "$windows/$1.exe" "${@:2}" | tr -d '\r'; }
status=0
same() { # what, linux output, windows output
  if [ "$2" != "$3" ]; then
    echo "$1 differs:"
    diff <(echo "$2") <(echo "$3") || true
    status=1
  fi
}
for f in "$@"; do
  expected=$("$linux/iffpcx_read_image" "$f")
  same "read_image $f" "$expected" "$(on_windows iffpcx_read_image "$f")"
  same "load_by_ordinal $f" "${expected%%,*}, checksum ${expected##*checksum }" "$(on_windows iffpcx_load_by_ordinal "$f")"
done
same "describe" "$("$linux/iffpcx_describe" "$@")" "$(on_windows iffpcx_describe "$@")"
[ $status = 0 ] && echo "examples: the same lines on Linux and Windows ($arch) for $# files"
exit $status
