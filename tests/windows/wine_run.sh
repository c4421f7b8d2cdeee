#!/usr/bin/env bash
# Runs a Windows program under Wine, in the given prefix: no display, no
# installer prompts (the .NET and HTML runtimes are switched off), no desktop
# menu entries, no Wine diagnostics. The program's exit status is the result.
# A win64 prefix is run by the 64-bit loader itself, which needs no 32-bit
# Wine beside it.
# usage: wine_run.sh win32|win64 PREFIX PROGRAM [ARGS...]
set -euo pipefail
export WINEARCH=$1 WINEPREFIX=$2
shift 2
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
wine=wine
if [ "$WINEARCH" = win64 ]; then
  for loader in /usr/lib/wine/wine64 "$(command -v wine64 || true)"; do
    if [ -x "$loader" ]; then
      wine=$loader
      export WINELOADER=$loader
      break
    fi
  done
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  "$wine" wineboot -i >/dev/null 2>&1 || true
  wineserver -w
fi
exec "$wine" "$@"
