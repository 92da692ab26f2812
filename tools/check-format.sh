#!/usr/bin/env bash
# Fails, listing them, when C++ files of the tree are not formatted as
# .clang-format describes. Only files under version control are checked.
#
#   tools/check-format.sh          (CLANG_FORMAT names another binary)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
format=${CLANG_FORMAT:-clang-format}
if ! command -v "$format" >/dev/null; then
    echo "check-format.sh: $format is missing (Debian: apt-get install clang-format)" >&2
    exit 1
fi

unformatted=()
while IFS= read -r -d '' file; do
    if ! "$format" --dry-run -Werror "$file" >/dev/null 2>&1; then
        unformatted+=("$file")
    fi
done < <(git ls-files -z -- '*.cpp' '*.h')

if [ ${#unformatted[@]} -gt 0 ]; then
    echo "check-format.sh: not formatted as .clang-format says (clang-format -i FILE):" >&2
    printf '  %s\n' "${unformatted[@]}" >&2
    exit 1
fi
echo "formatting: ok"
