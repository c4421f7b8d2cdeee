#!/usr/bin/env bash
# Fails unless libiffpcx_image's dynamic symbol table defines only functions
# named iffpcx_ and every function its two headers declare.
set -euo pipefail
lib=$1 include=$2
actual=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TDBRVWiu]$/ {print $3}' | sed 's/@.*//' | sort -u)
stray=$(echo "$actual" | grep -v '^iffpcx_' || true)
if [ -n "$stray" ]; then
  echo "exported symbols beyond the iffpcx_ functions:"
  echo "$stray"
  exit 1
fi
declared=$(cat "$include/iffpcx_image.h" "$include/iffpcx_check.h" | tr '\n' ' ' |
  grep -oE '_API [^;]*\(' | grep -oE 'iffpcx_[a-z_]+ *\($' | tr -d ' (' | sort -u)
missing=$(comm -23 <(echo "$declared") <(echo "$actual"))
if [ -n "$missing" ]; then
  echo "declared but not exported:"
  echo "$missing"
  exit 1
fi
echo "exports: $(echo "$actual" | wc -l) iffpcx_ functions, every one the headers declare"
