#!/usr/bin/env bash
# A release of about 512 MiB (one 256 MiB file and 2,000 small files in folders, 256 MiB in all):
# a fresh silent install and a no-op rerun under Wine, against curl fetching the same files plus
# sha256sum over them, and against sha256sum of the installed tree. Prints times, the requests
# the rerun made, and the peak memory of the setup process.
set -euo pipefail
cd "$(dirname "$0")/.."
build="$PWD/build/win"
cmake --build "$build" --target duskfern-setup >/dev/null
cmake -S . -B build/native -G Ninja -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc >/dev/null
cmake --build build/native --target duskfern-publish >/dev/null
source tools/wine-env.sh "$build"
df_wine_prefix_ready

work=$(mktemp -d /tmp/duskfern-bench.XXXXXX)
server_pid=""
cleanup() { [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
mkdir -p "$work/release" "$work/root" "$work/ctl"
head -c $((256 << 20)) /dev/urandom > "$work/release/big.bin"
cmake --build "$build" --target duskfern-overlay >/dev/null
cp "$build/tools/duskfern-overlay.exe" "$work/release/"  # marks the folder as an install on the rerun
for i in $(seq 0 1999); do
  d="$work/release/pack$((i / 100))"
  mkdir -p "$d"
  head -c 131072 /dev/urandom > "$d/item$i.dat"
done
python3 tools/release_server.py --serve "$work/root" --port-file "$work/port" --ctl "$work/ctl" --lifetime 1800 &
server_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
base="http://127.0.0.1:$(cat "$work/port")"
w() { echo "Z:${1//\//\\}"; }
echo "== publishing with the native tool"
/usr/bin/time -f "wall %e s, peak %M KiB" build/native/publish/duskfern-publish release --from "$work/release" \
  --tag v1.4.0 --out "$work/out"
cp -r "$work/out/mirror/." "$work/root/"
mkdir -p "$work/root/gh/download"
cp -r "$work/out/github/v1.4.0" "$work/root/gh/download/"
export DUSKFERN_UPDATE_MIRROR="$base" DUSKFERN_UPDATE_BASE="$base/gh"

setup() { wine "$build/app/duskfern-setup.exe" --silent --dir "$(w "$work/app")" --log "$(w "$work/setup.log")"; }
: > "$work/ctl/journal.jsonl"
echo "== fresh install"
/usr/bin/time -f "wall %e s, peak %M KiB" bash -c "$(declare -f setup w); build=$build work=$work; setup"
echo "== curl of the same files + sha256sum"
(cd "$work/root/v1.4.0/files" && ls > "$work/names")
mkdir -p "$work/curl"
/usr/bin/time -f "wall %e s, peak %M KiB" bash -c "cd '$work/curl' && sed 's|^|$base/v1.4.0/files/|' '$work/names' | xargs -n 200 curl -s --remote-name-all && sha256sum * > /dev/null"
: > "$work/ctl/journal.jsonl"
echo "== no-op rerun"
/usr/bin/time -f "wall %e s, peak %M KiB" bash -c "$(declare -f setup w); build=$build work=$work; setup"
echo "requests during the rerun: $(wc -l < "$work/ctl/journal.jsonl") (file requests: $(grep -c '/files/' "$work/ctl/journal.jsonl" || true))"
echo "== sha256sum of the installed tree"
/usr/bin/time -f "wall %e s, peak %M KiB" bash -c "cd '$work/app' && find . -type f ! -path './data/*' -print0 | xargs -0 sha256sum > /dev/null"
tail -n 1 "$work/setup.log"
