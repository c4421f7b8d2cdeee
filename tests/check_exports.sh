#!/usr/bin/env bash
# Fails unless the library's dynamic symbol table defines exactly the six entry points.
set -euo pipefail
lib=$1
actual=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TDBRVWiu]$/ {print $3}' | sed 's/@.*//' | sort -u)
expected=$(printf '%s\n' IFFClose IFFControl IFFGetLine IFFOpen IFFPutLine IFFSeek)
if [ "$actual" != "$expected" ]; then
  echo "exported symbols differ from the six entry points:"
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi
echo "exports: the six entry points only"
