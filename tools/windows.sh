#!/usr/bin/env bash
# Builds the Windows launcher from this Debian machine and proves it under
# Wine, installing what is missing:
#   1. a static Qt, tinyxml2 and libsodium for x86_64-w64-mingw32, built
#      once from Debian's source packages into a cache outside the checkout
#      ($ZORVAN_CACHE_DIR, by default ~/.cache/zorvan-launcher);
#   2. the launcher ("Zorvan Lumeth.exe"), its French catalogue and its tests,
#      cross-built in build-windows with cmake/mingw-w64-x86_64.cmake;
#   3. the per-user installer ("Zorvan Lumeth Setup.exe", NSIS);
#   4. the tests under Wine, in a Wine prefix of their own (skip with
#      --no-test).
#
#   [ZORVAN_UPDATE_PUBLIC_KEY=HEX | ZORVAN_UPDATE_PUBLIC_KEY_FILE=KEY.pub] tools/windows.sh [--no-test]
#
# With a studio's public key in the environment the launcher is built to
# accept only updates signed with it; without one it is built without a key,
# whatever an earlier run left in build-windows.
set -euo pipefail

zorvan_root=$(cd "$(dirname "$0")/.." && pwd)
source "$zorvan_root/tools/lib/deps.sh"
source "$zorvan_root/tools/windows/deps.sh"

# Key files are named from the caller's directory.
key_files=()
IFS=';' read -ra key_files <<< "${ZORVAN_UPDATE_PUBLIC_KEY_FILE:-}"
for i in "${!key_files[@]}"; do
    key_files[i]=$(realpath -- "${key_files[i]}")
done
key_file_list=$(IFS=';'; echo "${key_files[*]}")
cd "$zorvan_root"

run_tests=1
[ "${1:-}" = --no-test ] && run_tests=0

zorvan_install_missing dpkg-dev g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
    autoconf automake libtool wine wine64 nsis fonts-dejavu-core
zorvan_win_build_qt
zorvan_win_build_tinyxml2
zorvan_win_build_libsodium

# The build already runs Wine: the signing tests' throwaway keys are made by
# the Windows publisher. Both it and the tests use a prefix of their own.
source "$zorvan_root/tools/windows/wineenv.sh"
zorvan_wine_prefix

build=build-windows
echo "== Windows build ($build)"
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$zorvan_root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$zorvan_win_qt;$zorvan_win_tinyxml2;$zorvan_win_libsodium" \
    -DZORVAN_UPDATE_PUBLIC_KEY="${ZORVAN_UPDATE_PUBLIC_KEY:-}" -DZORVAN_UPDATE_PUBLIC_KEY_FILE="$key_file_list" >/dev/null
cmake --build "$build" -j"$(nproc)"

echo "== installer"
cmake --build "$build" --target installer
ls -l "$build/Zorvan Lumeth.exe" "$build/zorvanlauncher_fr.qm" "$build/Zorvan Lumeth Setup.exe"

[ "$run_tests" = 1 ] || exit 0

echo "== tests under Wine"
(cd "$build" && ctest --output-on-failure --timeout 600)
