#!/usr/bin/env bash
# Usage: wine-dpi-run.sh SOURCE_DIR BUILD_DIR DPI PROGRAM ARGS...
# Runs a Windows program under Wine in a prefix of its own whose screen has DPI dots per inch
# (LogPixels), made once beside the build's normal prefix. The normal prefix is left alone, so
# tests running in parallel there keep 96 DPI. Exit code: the program's own.
set -u
source_dir=$1 build=$2 dpi=$3
shift 3
source "$source_dir/tools/wine-env.sh" "$build"
export WINEPREFIX="$build/wine/prefix-dpi$dpi"
df_wine_prefix_ready || { echo "wine-dpi-run: could not create the Wine prefix" >&2; exit 125; }
if [ ! -e "$WINEPREFIX/.df-dpi" ]; then
  (
    flock 9
    if [ ! -e "$WINEPREFIX/.df-dpi" ]; then
      wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f </dev/null >/dev/null 2>&1
      wine reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' /v LogPixels \
        /t REG_DWORD /d "$dpi" /f </dev/null >/dev/null 2>&1
      # The DPI is read when Wine's processes start: begin again with a new server.
      wineserver -k >/dev/null 2>&1
      wineserver -w
      touch "$WINEPREFIX/.df-dpi"
    fi
  ) 9>"$build/wine/.lock-dpi$dpi"
  df_wine_prefix_ready
fi
exec wine "$@"
