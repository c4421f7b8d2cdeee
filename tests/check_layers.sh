#!/usr/bin/env bash
# Fails when a file of the line library includes a file of a layer above its
# own. From the bottom: platform, core, pixels, pcx, driver.
set -euo pipefail
src=${1:?usage: check_layers.sh SRC_DIR}
rank() {
  case "$1" in
    platform) echo 0 ;; core) echo 1 ;; pixels) echo 2 ;; pcx) echo 3 ;; driver) echo 4 ;; *) echo -1 ;;
  esac
}
bad=0
for layer in platform core pixels pcx driver; do
  own=$(rank $layer)
  while IFS=: read -r file included; do
    target=${included%%/*}
    r=$(rank "$target")
    if [ "$r" -gt "$own" ]; then
      echo "$file includes $included, a layer above $layer"
      bad=1
    fi
  done < <(grep -o '#include "[a-z_]*/[^"]*"' "$src/$layer"/* 2>/dev/null | sed 's/#include "//; s/"$//')
done
[ $bad = 0 ] && echo "every include in $src points down or across"
exit $bad
