#!/usr/bin/env bash
# Installs a Windows build into a fresh prefix and fails unless it holds the
# DLL, its import library, the module definition with the six entry points at
# ordinals 2 to 7, and the header.
# usage: check_install.sh CMAKE BUILD_DIR PREFIX
set -euo pipefail
cmake=$1 build=$2 prefix=$3
rm -rf "$prefix"
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
status=0
for file in bin/iffpcx.dll lib/libiffpcx.dll.a lib/iffpcx.def include/iffpcx.h; do
  [ -f "$prefix/$file" ] || { echo "missing: $file"; status=1; }
done
ordinals=$(sed -n 's/^[[:space:]]*\(IFF[A-Za-z]*\)[@0-9]*[[:space:]]*@\([0-9]*\).*/\2 \1/p' "$prefix/lib/iffpcx.def" 2>/dev/null | sort -n)
expected=$(printf '%s\n' "2 IFFOpen" "3 IFFClose" "4 IFFGetLine" "5 IFFPutLine" "6 IFFSeek" "7 IFFControl")
if [ "$ordinals" != "$expected" ]; then
  echo "iffpcx.def does not name the six entry points at ordinals 2 to 7:"
  diff <(echo "$expected") <(echo "$ordinals") || true
  status=1
fi
[ $status = 0 ] && echo "installed: bin/iffpcx.dll, lib/libiffpcx.dll.a, lib/iffpcx.def, include/iffpcx.h"
exit $status
