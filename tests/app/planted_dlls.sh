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
trap 'rm -rf "$work"' EXIT
downloads=$work/Downloads
mkdir -p "$downloads"
cp "$exe" "$downloads/duskfern-setup.exe"

# Loaded by the setup process under Wine only: Wine's own builtin DLLs import them, where the
# Windows DLLs of the same names do not (or take them from \KnownDlls, as dependencies of
# KnownDLLs). They load before the setup's first line, so no setting of the setup can reach them,
# and they are not its loads: left out of the planted set.
wine_only="
kernelbase.dll  ntdll/kernel32 of Wine; on Windows a dependency of kernel32, mapped from \KnownDlls
win32u.dll      Wine's user32 and gdi32; on Windows mapped from \KnownDlls
ucrtbase.dll    Wine's builtins link it; on Windows mapped from \KnownDlls
version.dll     Wine's user32 imports it; Windows' does not
"

# flows TRACE [NAMES]: the driver's flows against fresh loopback servers, NAMES (comma-separated,
# no .dll) native first for the setup; the setup processes' +loaddll lines go to TRACE.
flows() {
  local overrides=$WINEDLLOVERRIDES
  [ -n "${2:-}" ] && overrides="$overrides;$2=n,b"
  : > "$work/pids"
  if ! DF_SOURCE_DIR=$src DF_BINARY_DIR=$build DF_SETUP_EXE=$downloads/duskfern-setup.exe DF_SETUP_PIDS=$work/pids \
       DF_CHILD_WINEDEBUG=+pid,+loaddll DF_CHILD_WINEDLLOVERRIDES=$overrides \
       python3 "$src/tools/release_server.py" --run -- wine "$driver" 2> "$work/stderr"; then
    grep -v ':trace:' "$work/stderr" >&2 || true
    echo "planted_dlls: the flows failed" >&2
    cat "$work/stderr" | grep -i -F "$(echo "$downloads" | tr / '\\' | sed 's/\\/\\\\/g')" >&2 || true
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
echo "loaded $(wc -l < "$work/loaded") DLLs; planted: $(paste -sd' ' "$work/planted")"
[ -s "$work/planted" ] || { echo "planted_dlls: nothing to plant" >&2; exit 1; }

echo "== planted_dlls: the same flows with a marker of each beside the setup, native first"
x86_64-w64-mingw32-gcc -shared -O1 -o "$work/marker.dll" "$src/tests/app/planted_marker.c"
while read -r name; do cp "$work/marker.dll" "$downloads/$name"; done < "$work/planted"
flows "$work/trace-planted" "$(sed 's/\.dll$//' "$work/planted" | paste -sd,)"
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
