#!/usr/bin/env bash
# Reliability figures of the launcher, against a private nginx and the
# loopback server on 127.0.0.1:
#   1. the real launcher killed (SIGKILL) at each chosen point of a
#      synchronisation and started again: "kills survived: N/M, files
#      corrupted: K";
#   2. the table of game files that cannot be had (redirect loop, full disk,
#      a link to a device), each with the status texts the launcher showed.
#
#   tools/reliability.sh            (BUILD_DIR=build-e2e by default)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/tools/lib/deps.sh"
zorvan_install_missing
build="$root/${BUILD_DIR:-build-e2e}"
cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)" --target zorvan-launcher tst_e2e_nginx tst_e2e_badinput >/dev/null
export QT_QPA_PLATFORM=offscreen
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

echo "== kill and restart"
status=0
"$build/tests/tst_e2e_nginx" -silent killedSynchronisationsConverge >"$out/kill.txt" 2>&1 || status=1
grep -E '^kill ' "$out/kill.txt" | grep -v survived || true
grep -E '^kills survived:' "$out/kill.txt" || { cat "$out/kill.txt"; status=1; }

echo
echo "== bad input"
"$build/tests/tst_e2e_badinput" -silent >"$out/bad.txt" 2>&1 || status=1
echo "| fault | status texts shown, in order |"
echo "|---|---|"
grep -E '^BADINPUT\|' "$out/bad.txt" | sed 's/^BADINPUT|/|/'
grep -E '^(FAIL|Totals)' "$out/bad.txt" || true
exit $status
