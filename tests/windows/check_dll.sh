#!/usr/bin/env bash
# Fails unless iffpcx.dll exports exactly the six entry points, undecorated, at
# ordinals 2 to 7 (1 unassigned), and imports from nothing but system DLLs.
# usage: check_dll.sh OBJDUMP DLL
set -euo pipefail
objdump=$1
dll=$2
dump=$("$objdump" -p "$dll")

# "[Ordinal/Name Pointer] Table" lines: "[   i] Name", i counted from the base.
base=$(sed -n 's/^Ordinal Base[[:space:]]*\([0-9]*\)/\1/p' <<<"$dump")
count=$(sed -n 's/^[[:space:]]*Export Address Table[[:space:]]*\([0-9a-fA-F]*\)$/\1/p' <<<"$dump" | head -n 1)
actual=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" |
  sed -n 's/^[[:space:]]*\[[[:space:]]*\([0-9]*\)\][[:space:]]*\(.*\)$/\1 \2/p' |
  while read -r index name; do echo "$((index + base)) $name"; done | sort -n)
expected=$(printf '%s\n' "2 IFFOpen" "3 IFFClose" "4 IFFGetLine" "5 IFFPutLine" "6 IFFSeek" "7 IFFControl")
status=0
if [ "$base" != 2 ] || [ "$((16#$count))" != 6 ] || [ "$actual" != "$expected" ]; then
  echo "export table differs from the six entry points at ordinals 2 to 7 (base $base, $count entries):"
  diff <(echo "$expected") <(echo "$actual") || true
  status=1
fi

imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | tr 'A-Z' 'a-z' | sort -u)
unexpected=$(grep -vxE 'kernel32\.dll|msvcrt\.dll' <<<"$imports" || true)
if [ -n "$unexpected" ]; then
  echo "imports DLLs beyond the system's: $unexpected"
  status=1
fi
[ $status = 0 ] && echo "iffpcx.dll: six entry points at ordinals 2 to 7; imports $(echo $imports)"
exit $status
