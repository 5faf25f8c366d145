#!/bin/sh
# Runs a Windows test program under Wine, quietly, in the build's own prefix:
#   wine-run.sh PREFIX PROGRAM [ARGS...]
prefix=$1; shift
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$prefix"
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi
exec wine "$@"
