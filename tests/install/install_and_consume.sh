#!/usr/bin/env bash
# install_and_consume.sh CMAKE BUILD-DIR WORK-DIR GENERATOR CC CFLAGS VERSION SAMPLE EXPECTED SOURCE-DIR
set -euo pipefail
cmake=$1 build=$2 work=$3 generator=$4 cc=$5 cflags=$6 version=$7 sample=$8 expected=$9 source=${10}
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work"
prefix="$work/prefix"
"$cmake" --install "$build" --prefix "$prefix" > "$work/install.log"

fail() { echo "install: $*"; exit 1; }
[ -f "$prefix/include/iffpcx.h" ] || fail "no header"
lib=$(find "$prefix" -name 'libiffpcx.so.*.*.*' | head -n 1)
[ -n "$lib" ] || fail "no shared library"
libdir=$(dirname "$lib")
[ -L "$libdir/libiffpcx.so" ] && [ -L "$libdir/libiffpcx.so.${version%%.*}" ] || fail "no soname links"
readelf -d "$lib" | grep -q "SONAME.*\[libiffpcx.so.${version%%.*}\]" || fail "soname is not libiffpcx.so.${version%%.*}"
if readelf -d "$lib" | grep -E 'RUNPATH|RPATH' | grep -q "$build"; then fail "the library's run path names the build tree"; fi

# pcxtool, when built, runs from the prefix alone.
if [ -x "$prefix/bin/pcxtool" ]; then
  runpath=$(readelf -d "$prefix/bin/pcxtool" | grep -E 'RUNPATH|RPATH' || true)
  case "$runpath" in *'$ORIGIN'*) ;; *) fail "pcxtool's run path is not relative to it: $runpath" ;; esac
  case "$runpath" in *"$build"*) fail "pcxtool's run path names the build tree" ;; esac
  env -u LD_LIBRARY_PATH "$prefix/bin/pcxtool" info "$sample" > /dev/null || fail "installed pcxtool does not run"
fi

# find_package(iffpcx VERSION EXACT), target iffpcx::iffpcx.
"$cmake" -S "$here/find_package" -B "$work/find_package" -G "$generator" -DCMAKE_C_COMPILER="$cc" \
  -DCMAKE_C_FLAGS="$cflags" -DCMAKE_PREFIX_PATH="$prefix" -DIFFPCX_EXPECTED_VERSION="$version" > "$work/find_package.log"
"$cmake" --build "$work/find_package" >> "$work/find_package.log"
out=$(env -u LD_LIBRARY_PATH "$work/find_package/consumer" "$sample")
[ "$out" = "$expected, iffpcx $version" ] || fail "find_package consumer printed: $out"
echo "find_package consumer: $out"

# pkg-config, with the .pc file found through PKG_CONFIG_PATH only.
export PKG_CONFIG_PATH="$libdir/pkgconfig"
[ "$(pkg-config --modversion iffpcx)" = "$version" ] || fail "pkg-config version is not $version"
pc_libdir=$(pkg-config --variable=libdir iffpcx)
# shellcheck disable=SC2046,SC2086
"$cc" -std=c99 -Wall -Werror $cflags -o "$work/pkg_config_consumer" "$here/consumer.c" \
  $(pkg-config --cflags --libs iffpcx) -Wl,-rpath,"$pc_libdir"
out=$(env -u LD_LIBRARY_PATH "$work/pkg_config_consumer" "$sample")
[ "$out" = "$expected, iffpcx $version" ] || fail "pkg-config consumer printed: $out"
echo "pkg-config consumer: $out"

# The whole-image layer: pages_to_pnm built with pkg-config alone, as the
# README shows, writes every page of the sample.
if [ -f "$libdir/pkgconfig/iffpcx-image.pc" ]; then
  [ -f "$prefix/include/iffpcx_image.h" ] && [ -f "$prefix/include/iffpcx_check.h" ] || fail "no image headers"
  image_lib=$(find "$prefix" -name 'libiffpcx_image.so.*.*.*' | head -n 1)
  [ -n "$image_lib" ] || fail "no image library"
  readelf -d "$image_lib" | grep -q "SONAME.*\[libiffpcx_image.so.${version%%.*}\]" || fail "image soname"
  # shellcheck disable=SC2046
  "$cc" -std=c99 -Wall -Werror $cflags -o "$work/pages_to_pnm" "$source/examples/pages_to_pnm.c" \
    $(pkg-config --cflags --libs iffpcx-image) -Wl,-rpath,"$pc_libdir"
  env -u LD_LIBRARY_PATH "$work/pages_to_pnm" "$sample" "$work/page" || fail "pages_to_pnm failed"
  [ -s "$work/page0.pnm" ] || fail "pages_to_pnm wrote no page"
  echo "pkg-config pages_to_pnm: $(ls "$work"/page*.pnm | wc -l) pages"
fi

# add_subdirectory: the same target name, and only the library is built.
"$cmake" -S "$here/subdirectory" -B "$work/subdirectory" -G "$generator" -DCMAKE_C_COMPILER="$cc" \
  -DCMAKE_C_FLAGS="$cflags" -DIFFPCX_SOURCE_DIR="$source" > "$work/subdirectory.log"
"$cmake" --build "$work/subdirectory" -j 2 >> "$work/subdirectory.log"
out=$(env -u LD_LIBRARY_PATH "$work/subdirectory/consumer" "$sample")
[ "$out" = "$expected, iffpcx $version" ] || fail "add_subdirectory consumer printed: $out"
echo "add_subdirectory consumer: $out"
