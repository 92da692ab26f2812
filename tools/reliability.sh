#!/usr/bin/env bash
# Reliability figures of the launcher, against a private nginx and the
# loopback server on 127.0.0.1:
#   1. the real launcher killed (SIGKILL) at each chosen point of a
#      synchronisation and started again: "kills survived: N/M, files
#      corrupted: K";
#   2. the table of game files that cannot be had (redirect loop, full disk,
#      a link to a device), each with the status texts the launcher showed;
#   3. file-system faults: one run per call of each flow with that call
#      failing, "FLOW: fault points: N/N converged, files lost: 0, written
#      outside: 0"; the suite's sample, or every call with --sweep.
# With --big instead: a publication with one file of 4.5 GiB (sparse where
# nginx serves it; about 4.6 GiB of free disk under /tmp for the player's
# copy) installed by the real launcher, then checked by a Repair, with the
# peak memory of each run against a run of the same publication without
# the large file.
#
#   tools/reliability.sh [--sweep | --big]  (BUILD_DIR=build-e2e by default)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/tools/lib/deps.sh"
zorvan_install_missing
build="$root/${BUILD_DIR:-build-e2e}"
cmake -S "$root" -B "$build" >/dev/null
sweep_step=
if [ "${1:-}" = --sweep ]; then
    sweep_step=1
fi
export QT_QPA_PLATFORM=offscreen
out=$(mktemp -d)
trap '[ -n "${ZORVAN_KEEP:-}" ] || rm -rf "$out"' EXIT

if [ "${1:-}" = --big ]; then
    cmake --build "$build" -j"$(nproc)" --target zorvan-launcher zorvan-publish >/dev/null
    source "$root/tools/lib/bigfile.sh"
    zorvan_big_file_proof "$build" "$out"
    exit
fi
cmake --build "$build" -j"$(nproc)" --target zorvan-launcher tst_e2e_nginx tst_e2e_badinput tst_e2e_faults >/dev/null

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

echo
echo "== file-system faults (each call of a flow failing in turn, then a restart)"
ZORVAN_SWEEP_STEP=${sweep_step:-${ZORVAN_SWEEP_STEP:-5}} "$build/tests/tst_e2e_faults" -silent >"$out/faults.txt" 2>&1 || status=1
grep -E ': fault points:|^  fault at|^SKIP' "$out/faults.txt" || { cat "$out/faults.txt"; status=1; }
exit $status
