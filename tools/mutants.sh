#!/usr/bin/env bash
# Plants player-visible faults in the launcher one at a time and runs the
# suite against each, to show which tests catch which fault: a fault that no
# test catches names a missing check. Each fault is one exact text
# replacement in one source file (tools/mutants.txt); the file is restored
# afterwards, whatever happens.
#
#   tools/mutants.sh [ID...]   (all faults by default; BUILD_DIR=build-mutants)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/tools/lib/deps.sh"
zorvan_root=$root
zorvan_install_missing
build="$root/${BUILD_DIR:-build-mutants}"
export QT_QPA_PLATFORM=offscreen
list="$root/tools/mutants.txt"
zorvan_build "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

# The suite without the slowest end-to-end runs, which add little here.
tests=${ZORVAN_MUTANT_TESTS:-'^tst_(engine|saves|window|signing_signed|signing_unsigned|e2e_badinput)$'}
(cd "$build" && ctest -R "$tests" >/dev/null) || { echo "the suite fails before any fault is planted" >&2; exit 1; }

caught=0 total=0
printf '| fault | caught by |\n|---|---|\n'
while IFS=$'\t' read -r id file search replace what; do
    [[ -z "$id" || "$id" == \#* ]] && continue
    if [ $# -gt 0 ] && ! printf '%s\n' "$@" | grep -qx "$id"; then continue; fi
    total=$((total + 1))
    if [ ! -f "$root/$file" ]; then
        echo "| $id $what | (no file $file) |"
        continue
    fi
    cp "$root/$file" "$build/original"
    trap 'cp "$build/original" "$root/$file"' EXIT
    python3 - "$root/$file" "$search" "$replace" <<'PY' || { echo "| $id $what | (fault not found in $file) |"; continue; }
import sys
path, search, replace = sys.argv[1], sys.argv[2].replace('\\n', '\n'), sys.argv[3].replace('\\n', '\n')
text = open(path, encoding='utf-8').read()
if text.count(search) != 1:
    sys.exit(1)
open(path, 'w', encoding='utf-8').write(text.replace(search, replace))
PY
    by=
    if ! cmake --build "$build" -j"$(nproc)" </dev/null >/dev/null 2>&1; then
        by="(does not build)"
    else
        out=$(cd "$build" && ctest -R "$tests" </dev/null 2>&1 || true)
        by=$(echo "$out" | sed -n 's/^[[:space:]]*[0-9]* - \(tst_[a-z_]*\) (.*)$/\1/p' | paste -sd, -)
    fi
    cp "$build/original" "$root/$file"
    trap - EXIT
    [ -n "$by" ] && [ "$by" != "(does not build)" ] && caught=$((caught + 1))
    echo "| $id $what | ${by:-MISSED} |"
done <"$list"
cmake --build "$build" -j"$(nproc)" >/dev/null
echo
echo "faults caught: $caught/$total"
[ "$caught" = "$total" ]
