#!/usr/bin/env bash
# SHA-256 of a 1 GiB file: sha256_file under Wine against sha256sum, same file, same run.
set -euo pipefail
cd "$(dirname "$0")/.."
build="$PWD/build/win"
cmake --build "$build" --target sha256_bench >/dev/null
source tools/wine-env.sh "$build"
df_wine_prefix_ready
file=$(mktemp /tmp/duskfern-sha.XXXXXX)
trap 'rm -f "$file"' EXIT
head -c 1073741824 /dev/urandom > "$file"
cat "$file" > /dev/null  # both readers start from the page cache
echo "== sha256_file under Wine"
/usr/bin/time -f "wall %e s, peak %M KiB" wine "$build/bench/sha256_bench.exe" "$(df_winpath "$file")"
echo "== sha256sum"
/usr/bin/time -f "wall %e s, peak %M KiB" sha256sum "$file"
