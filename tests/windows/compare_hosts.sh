#!/usr/bin/env bash
# Runs the Linux build of the ordinal host and compares what it writes, byte
# for byte, with what the Windows build wrote under Wine.
# usage: compare_hosts.sh LINUX_HOST LINUX_LIBRARY INPUT WINDOWS_OUT LINUX_OUT
set -euo pipefail
host=$1 library=$2 input=$3 windows_out=$4 linux_out=$5
rm -rf "$linux_out"
mkdir -p "$linux_out"
"$host" "$library" "$input" "$linux_out" >/dev/null
status=0
for reference in "$linux_out"/*; do
  name=$(basename "$reference")
  if ! cmp "$reference" "$windows_out/$name"; then status=1; fi
done
extra=$(comm -13 <(ls "$linux_out") <(ls "$windows_out"))
if [ -n "$extra" ]; then echo "written only under Windows: $extra"; status=1; fi
[ $status = 0 ] && echo "ordinal host: $(ls "$linux_out" | wc -l) files identical on Linux and Windows"
exit $status
