#!/usr/bin/env bash
# The release check's streams guard on fake nm output: many matches fail it (the case a reader
# that stops early used to let through), none pass, and a failing nm fails the pipeline.
#   streams_guard_test.sh GUARD
set -euo pipefail
guard=$1
err=$(mktemp)
trap 'rm -f "$err"' EXIT
fake_nm() {  # N matching lines among others
  for i in $(seq "$1"); do
    echo "0000000140001000 T main$i"
    echo "0000000140002000 T std::basic_ostream<char, std::char_traits<char> >::flush$i()"
  done
  echo "0000000140003000 T df::setup::run_job()"
}
fail() { echo "streams_guard_test: $*" >&2; exit 1; }
for n in 1 4 1000; do
  if fake_nm "$n" | "$guard" 2>"$err"; then fail "$n matches passed"; fi
  grep -q "^streams-guard: $n symbols" "$err" || fail "$n matches: $(cat "$err")"
  [ "$(grep -c basic_ostream "$err")" -eq "$(( n < 3 ? n : 3 ))" ] || fail "$n matches: not the first three shown"
done
fake_nm 0 | "$guard" || fail "no match failed"
if (exit 3) | "$guard"; then fail "a failing nm passed"; fi
echo "streams_guard_test: ok"
