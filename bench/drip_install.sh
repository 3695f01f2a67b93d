#!/usr/bin/env bash
# A silent install whose release file the mirror drips (one byte every two seconds) while GitHub
# serves it normally: the wall time until the setup has it from GitHub, and the log's lines for
# the file. DF_DRIP_FAST=N sends the first N bytes of every answer at full speed before the drip,
# DF_DRIP_RATE=B drips B bytes a second instead, DF_DRIP_LATEST=1 drips the mirror's latest.json
# instead of the file, DF_SETUP_EXE runs another setup.
#   bench/drip_install.sh [BUILD_DIR]   (default build/win with duskfern-setup and duskfern-overlay
#                                        built; build/native with duskfern-publish)
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
build=$(cd "${1:-build/win}" && pwd)
publish=$src/build/native/publish/duskfern-publish
setup_exe=${DF_SETUP_EXE:-$build/app/duskfern-setup.exe}
for f in "$setup_exe" "$build/tools/duskfern-overlay.exe" "$publish"; do
  [ -f "$f" ] || { echo "build $f first" >&2; exit 2; }
done
fast=${DF_DRIP_FAST:-0}
rate=${DF_DRIP_RATE:-0.5}
drip_latest=${DF_DRIP_LATEST:-0}
source tools/wine-env.sh "$build"
df_wine_prefix_ready

work=$(mktemp -d /tmp/duskfern-drip.XXXXXX)
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/build" "$work/root/gh/download" "$work/ctl"
cp "$build/tools/duskfern-overlay.exe" "$work/build/"
head -c 262144 /dev/urandom > "$work/build/core.dll"
"$publish" release --from "$work/build" --tag v1.4.0 --out "$work/out" >/dev/null
mv "$work/out/mirror/"* "$work/root/"
mv "$work/out/github/v1.4.0" "$work/root/gh/download/"

python3 tools/release_server.py --serve "$work/root" --port-file "$work/port" --ctl "$work/ctl" --lifetime 900 &
server_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
base="http://127.0.0.1:$(cat "$work/port")"
# The stand-in GitHub release document, and the drip on the mirror's copy of core.dll.
python3 - "$work/root" "$base" "$fast" "$work/ctl" "$rate" "$drip_latest" <<'EOF'
import json, os, sys
root, base, fast = sys.argv[1], sys.argv[2], int(sys.argv[3])
folder = os.path.join(root, "gh", "download", "v1.4.0")
assets = [{"name": n, "browser_download_url": base + "/gh/download/v1.4.0/" + n,
           "size": os.path.getsize(os.path.join(folder, n))} for n in sorted(os.listdir(folder))]
os.makedirs(os.path.join(root, "gh", "releases"))
with open(os.path.join(root, "gh", "releases", "latest"), "w") as f:
    json.dump({"tag_name": "v1.4.0", "name": "duskfern 1.4.0", "body": "notes",
               "html_url": base + "/gh/releases/tag/v1.4.0", "assets": assets}, f)
manifest = json.load(open(os.path.join(root, "v1.4.0", "manifest.json")))
asset = next(e["asset"] for e in manifest["files"] if e["path"] == "core.dll")
drip = {"rate": float(sys.argv[5])}
if fast:
    drip["rate_after"] = fast
with open(os.path.join(sys.argv[4], "faults.json"), "w") as f:
    json.dump({"/latest.json" if sys.argv[6] == "1" else "/v1.4.0/files/" + asset: drip}, f)
EOF

export DUSKFERN_UPDATE_MIRROR="$base" DUSKFERN_UPDATE_BASE="$base/gh"
wine cmd.exe /c exit >/dev/null 2>&1 || true  # warm Wine before timing
start=$(date +%s%N)
code=0
wine "$setup_exe" --silent --dir "$(df_winpath "$work/app")" --log "$(df_winpath "$work/setup.log")" >/dev/null 2>&1 || code=$?
ms=$(( ($(date +%s%N) - start) / 1000000 ))
grep -a -E "core\.dll|latest|installed" "$work/setup.log" | tr -d '\r' || true
dripped=$([ "$drip_latest" = 1 ] && echo "latest.json" || echo "core.dll")
echo "exit code $code, wall time $((ms / 1000)).$(printf %03d $((ms % 1000))) s ($dripped on the mirror: first $fast bytes of each answer at full speed, then $rate bytes a second)"
