#!/usr/bin/env bash
# Runs a Windows program under Wine, in the given prefix: no display, no
# installer prompts (the .NET and HTML runtimes are switched off), no desktop
# menu entries, no Wine diagnostics. The program's exit status is the result.
# usage: wine_run.sh PREFIX PROGRAM [ARGS...]
set -euo pipefail
export WINEPREFIX=$1
shift
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEARCH=win32
unset DISPLAY WAYLAND_DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w
fi
exec wine "$@"
