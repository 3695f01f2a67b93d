#!/usr/bin/env bash
# Verified download of a 512 MiB file from the loopback release server through Http::fetch_verified
# (download_bench.exe under Wine) against curl + sha256sum on the same server; then the same
# download cut at 50% and resumed, with the bytes the server sent twice.
#   bench/download_bench.sh [BUILD_DIR]     (default build/win; needs download_bench built)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build/win}" && pwd)
source tools/wine-env.sh "$build"
exe="$build/bench/download_bench.exe"
[ -x "$build/wine-run" ] && [ -f "$exe" ] || { echo "build download_bench in $build first" >&2; exit 2; }
size_mib=${DF_BENCH_MIB:-512}
size=$((size_mib * 1048576))

work=$(mktemp -d "$build/bench-XXXXXX")
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/root" "$work/ctl" "$work/out"
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

echo "== generating $size_mib MiB"
head -c "$size" /dev/urandom > "$work/root/big.bin"
sha=$(sha256sum "$work/root/big.bin" | cut -d' ' -f1)

python3 tools/release_server.py --serve "$work/root" --port-file "$work/port" --ctl "$work/ctl" --lifetime 1200 &
server_pid=$!
for _ in $(seq 200); do [ -s "$work/port" ] && break; sleep 0.1; done
url="http://127.0.0.1:$(cat "$work/port")/big.bin"
"$build/wine-run" cmd.exe /c exit >/dev/null 2>&1 || true   # warm Wine before timing

echo "== curl -s -o f URL && sha256sum f"
t=$(now_ms)
(cd "$work/out" && curl -s -o f "$url" && sha256sum f >/dev/null)
curl_ms=$(( $(now_ms) - t ))
rm -f "$work/out/f"
echo "curl: ${curl_ms} ms"

echo "== Http::fetch_verified and the move (download_bench.exe under Wine)"
t=$(now_ms)
/usr/bin/time -v -o "$work/time.txt" "$build/wine-run" "$exe" "$url" "$(df_winpath "$work/out/big.bin")" "$size" "$sha" 2 \
  | tee "$work/bench.txt"
wall_ms=$(( $(now_ms) - t ))
inner_ms=$(sed -n 's/^elapsed_ms=\([0-9]*\).*/\1/p' "$work/bench.txt")
peak_kib=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")
rm -f "$work/out/big.bin"
echo "download: ${inner_ms} ms inside the process, ${wall_ms} ms with Wine start-up"

echo "== cut at 50%, resumed"
: > "$work/ctl/journal.jsonl"
echo "{\"/big.bin\":{\"cut_after\":$((size / 2)),\"times\":1}}" > "$work/ctl/faults.json"
"$build/wine-run" "$exe" "$url" "$(df_winpath "$work/out/big.bin")" "$size" "$sha" 2
twice=$(python3 -c '
import json, sys
sent = sum(json.loads(l)["sent"] for l in open(sys.argv[1]) if l.strip())
print(sent - int(sys.argv[2]))' "$work/ctl/journal.jsonl" "$size")
requests=$(grep -c . "$work/ctl/journal.jsonl")
rm -f "$work/out/big.bin" "$work/ctl/faults.json"

echo
echo "== results ($size_mib MiB)"
awk -v a="$inner_ms" -v w="$wall_ms" -v c="$curl_ms" 'BEGIN {
  printf "ratio fetch_verified / curl+sha256sum: %.2fx (in-process), %.2fx (with Wine start-up)\n", a / c, w / c }'
echo "peak memory of the Wine process: $((peak_kib / 1024)) MiB (${peak_kib} KiB)"
echo "resumed after a cut at 50%: bytes fetched twice: $twice ($requests requests)"
