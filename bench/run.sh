#!/usr/bin/env bash
# The launcher's performance figures, each a ratio against a baseline
# measured in the same run (md5sum + sha1sum, curl), and the scale table.
# Needs about 8 GiB of free space under /tmp (the 4 GiB download among
# them); takes about five minutes.
#
#   bench/run.sh
set -euo pipefail
zorvan_root=$(cd "$(dirname "$0")/.." && pwd)
source "$zorvan_root/tools/lib/deps.sh"
zorvan_install_missing
zorvan_build "$zorvan_root/build-bench" -DCMAKE_BUILD_TYPE=Release -DZORVAN_BUILD_TESTS=OFF
work=$(mktemp -d /tmp/zorvan-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
"$zorvan_root/build-bench/bench/zorvan-bench" "$work"
