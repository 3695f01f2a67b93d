#!/usr/bin/env bash
# A setup started from a folder that holds DLLs named like system DLLs (a Downloads folder) loads
# none of them, in the silent flow and in the window flow (folder picker, shortcut, launch).
#   planted_dlls.sh SOURCE_DIR BUILD_DIR DRIVER_EXE      DF_SETUP_EXE: the setup (default the build's)
# 1. The driver's flows (planted_dll_driver.cpp) with Wine's +loaddll trace for the setup process:
#    every DLL it loads that is not a KnownDLL (tools/known-dlls.txt) and not one of the Wine-only
#    names below is planted.
# 2. A marker DLL (planted_marker.c) of each planted name beside a copy of the setup, and those
#    names loaded native first, as Windows looks for a DLL that is not a KnownDLL (the program's own
#    folder first): the flows install as before, no marker is loaded.
set -euo pipefail
src=$1 build=$2 driver=$3
exe=${DF_SETUP_EXE:-$build/app/duskfern-setup.exe}
source "$src/tools/wine-env.sh" "$build"
df_wine_prefix_ready
work=$(mktemp -d /tmp/duskfern-planted.XXXXXX)
downloads=$work/Downloads
mkdir -p "$downloads"
cp "$exe" "$downloads/duskfern-setup.exe"

# Loaded into the setup process under Wine only, or only under Wine without the setup's search
# setting, so no setting of the setup can reach them: left out of the planted set.
# - Wine's builtin DLLs import them where the Windows DLLs of the same names do not (or take
#   them from \KnownDlls, as dependencies of KnownDLLs); they load with the exe's imports, before
#   the setup's first line.
# - Wine's builtin DLLs load them through their own delay imports, which Wine resolves along the
#   process's first DLL path (the program's folder first) whatever SetDefaultDllDirectories said;
#   Windows' loader applies the setting to every later load by name (and Windows' gdi32 has the
#   drawing calls Wine's comctl32 takes from msimg32).
wine_only="
kernelbase.dll  Wine's kernel32 imports it; Windows maps it from \KnownDlls, as a dependency of kernel32
win32u.dll      Wine's user32 and gdi32 import it; Windows maps it from \KnownDlls
ucrtbase.dll    Wine's builtins import it; Windows maps it from \KnownDlls
version.dll     Wine's user32 imports it; Windows' user32 does not
uxtheme.dll     Wine's comctl32 imports it; Windows' comctl32 does not load it with the program
zlib1.dll       Wine's comctl32 imports Wine's own zlib; Windows has no such DLL
crypt32.dll     a delay import of Wine's builtins (winhttp, secur32), resolved without the search setting
msimg32.dll     a delay import of Wine's comctl32 and user32, resolved without the search setting
"

# flows TRACE [NAMES]: the driver's flows against fresh loopback servers, NAMES (one a line)
# native first for the setup; the setup processes' +loaddll lines go to TRACE. Wine takes the
# load order of a program from the registry (AppDefaults, by file name): an override in the
# setup's environment is not read.
appkey='HKCU\Software\Wine\AppDefaults\duskfern-setup.exe\DllOverrides'
trap 'wine reg delete "$appkey" /f >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
flows() {
  wine reg delete "$appkey" /f >/dev/null 2>&1 || true
  if [ -n "${2:-}" ]; then
    while read -r name; do
      wine reg add "$appkey" /v "${name%.dll}" /t REG_SZ /d native,builtin /f >/dev/null 2>&1
    done < "$2"
  fi
  : > "$work/pids"
  if ! DF_SOURCE_DIR=$src DF_BINARY_DIR=$build DF_SETUP_EXE=$downloads/duskfern-setup.exe DF_SETUP_PIDS=$work/pids \
       DF_CHILD_WINEDEBUG=+pid,+loaddll python3 "$src/tools/release_server.py" --run --lifetime 240 -- \
       wine "$driver" 2> "$work/stderr"; then
    grep -a -v ':trace:' "$work/stderr" >&2 || true
    grep -a -i -F 'Downloads\\' "$work/stderr" | grep -a -v -i 'duskfern-setup\.exe' >&2 || true
    echo "planted_dlls: the flows failed" >&2
    return 1
  fi
  local pids
  pids=$(paste -sd'|' "$work/pids")
  grep -a -i -E "^0*($pids):[0-9a-f]+:trace:loaddll:" "$work/stderr" > "$1" || true
  [ -s "$1" ] || { echo "planted_dlls: no +loaddll trace of the setup (pids $pids)" >&2; return 1; }
}
# loaded_names TRACE: the file names the trace shows loaded, lower case, one a line.
loaded_names() {
  sed -n 's/.*Loaded L"\([^"]*\)".*/\1/p' "$1" | sed 's/.*\\//' | tr 'A-Z' 'a-z' | sort -u
}

echo "== planted_dlls: which DLLs the setup loads"
flows "$work/trace-plain"
loaded_names "$work/trace-plain" > "$work/loaded"
grep -v '^#' "$src/tools/known-dlls.txt" > "$work/known"
printf '%s\n' "$wine_only" | awk 'NF {print $1}' > "$work/wine-only"
grep -v -x -F -f "$work/known" "$work/loaded" | grep -v -x -F -f "$work/wine-only" |
  grep -v -E '\.(exe|drv)$' > "$work/planted" || true
echo "loaded: $(paste -sd' ' "$work/loaded")"
echo "planted: $(paste -sd' ' "$work/planted")"
[ -s "$work/planted" ] || { echo "planted_dlls: nothing to plant" >&2; exit 1; }

echo "== planted_dlls: the same flows with a marker of each beside the setup, native first"
x86_64-w64-mingw32-gcc -shared -O1 -o "$work/marker.dll" "$src/tests/app/planted_marker.c"
while read -r name; do cp "$work/marker.dll" "$downloads/$name"; done < "$work/planted"
flows "$work/trace-planted" "$work/planted"
status=0
if ls "$downloads"/*.loaded >/dev/null 2>&1; then
  echo "planted_dlls: the setup loaded planted DLLs: $(cd "$downloads" && ls *.loaded | sed 's/\.loaded$//' | paste -sd' ')" >&2
  status=1
fi
if grep -a -i -F 'Downloads\\' "$work/trace-planted" | grep -a -v -i 'duskfern-setup\.exe' >&2; then
  echo "planted_dlls: the setup loaded the DLLs above from its own folder" >&2
  status=1
fi
[ $status -eq 0 ] && echo "planted_dlls: none of $(wc -l < "$work/planted") planted DLLs loaded"
exit $status
