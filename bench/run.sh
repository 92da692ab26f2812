#!/usr/bin/env bash
# The launcher's performance figures, each a ratio against a baseline
# measured in the same run (md5sum + sha1sum, curl), and the scale table.
# Needs about 8 GiB of free space under /tmp (the 4 GiB download among
# them); takes about five minutes.
#
# With --signed instead: what a build with the studio's key adds to a whole
# synchronisation and to a Repair (its SHA-256 of every body, the
# statement), each against the same work by a build without a key, in the
# same run (about 1 GiB under /tmp).
#
#   bench/run.sh [--signed]
set -euo pipefail
zorvan_root=$(cd "$(dirname "$0")/.." && pwd)
source "$zorvan_root/tools/lib/deps.sh"
zorvan_install_missing
zorvan_build "$zorvan_root/build-bench" -DCMAKE_BUILD_TYPE=Release -DZORVAN_BUILD_TESTS=OFF
work=$(mktemp -d /tmp/zorvan-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
if [ "${1:-}" != --signed ]; then
    "$zorvan_root/build-bench/bench/zorvan-bench" "$work"
    exit
fi

# A throwaway key, and a second build that carries it.
"$zorvan_root/build-bench/tools/publish/zorvan-publish" --generate-key "$work/bench.key" >/dev/null
zorvan_build "$zorvan_root/build-bench-signed" -DCMAKE_BUILD_TYPE=Release -DZORVAN_BUILD_TESTS=OFF \
    -DZORVAN_UPDATE_PUBLIC_KEY_FILE="$work/bench.key.pub"
mkdir -p "$work/plain" "$work/signed"
plain=$("$zorvan_root/build-bench/bench/zorvan-bench" --publication "$work/plain" "$work/bench.key")
signed=$("$zorvan_root/build-bench-signed/bench/zorvan-bench" --publication "$work/signed" "$work/bench.key")
echo
echo "e) a build with the studio's key against one without, the same publication (500 x 32 KiB + 256 MiB), best of 3"
printf '%-40s %10s %10s %7s\n' figure signed plain ratio
read -r plain_sync plain_repair _ _ <<<"$plain"
read -r signed_sync signed_repair good_kib oversized_kib <<<"$signed"
awk -v a="$signed_sync" -v b="$plain_sync" 'BEGIN { printf "%-40s %10.2f %10.2f %7.2f\n", "synchronisation from empty, s", a, b, a / b }'
awk -v a="$signed_repair" -v b="$plain_repair" 'BEGIN { printf "%-40s %10.2f %10.2f %7.2f\n", "Repair, all intact, s", a, b, a / b }'
echo
echo "peak memory growth of a signed run: good statement $((good_kib / 1024)) MiB, statement of 64 MiB $((oversized_kib / 1024)) MiB"
