#!/usr/bin/env bash
# The release tool's round trip, run beside the loopback release server (release_server.py --run):
# makes a sample build folder, publishes it with the NATIVE tool (signed with the test key), lays both trees out under the
# server's root (mirror at the root, GitHub files under gh/download/TAG/) and runs the Windows
# test executable, which installs it with the real setup.
#   round_trip.sh NATIVE_TOOL WINE_RUN TEST_EXE OVERLAY_EXE WORK_DIR
set -euo pipefail
tool=$1 wine_run=$2 test_exe=$3 overlay=$4 work=$5
tag=v2.1.0
[ -x "$tool" ] || { echo "round_trip.sh: no native release tool at $tool (build build/native first)" >&2; exit 1; }
rm -rf "$work"
build="$work/build"
mkdir -p "$build/bin/plugins" "$build/res/Grüße 文档"
cp "$overlay" "$build/duskfern-overlay.exe"
printf 'core library\n' > "$build/bin/core.dll"
head -c 300000 /dev/urandom > "$build/bin/plugins/pack.bin"
: > "$build/res/Grüße 文档/empty.txt"
printf 'notes\n' > "$build/res/Grüße 文档/my_notes 1.txt"

"$tool" release --from "$build" --tag "$tag" --out "$work/out" --key "$DF_SOURCE_DIR/tests/support/test-only-release-key.pem"
"$DF_SOURCE_DIR/tools/serve-release" "$work/out" "$tag" "$DF_TEST_ROOT"
DF_ROUND_TRIP_BUILD="$build" DF_ROUND_TRIP_OUT="$work/out" DF_ROUND_TRIP_TAG="$tag" exec "$wine_run" "$test_exe"
