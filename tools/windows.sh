#!/usr/bin/env bash
# Builds the Windows launcher from this Debian machine and proves it under
# Wine, installing what is missing:
#   1. a static Qt, tinyxml2 and libsodium for x86_64-w64-mingw32, built
#      once from Debian's source packages into a cache outside the checkout
#      ($ZORVAN_CACHE_DIR, by default ~/.cache/zorvan-launcher);
#   2. the launcher ("Zorvan Lumeth.exe"), its French catalogue and its tests,
#      cross-built in build-windows with cmake/mingw-w64-x86_64.cmake;
#   3. the per-user installer ("Zorvan Lumeth Setup.exe", NSIS);
#   4. the tests under Wine, in a Wine prefix of their own, the signing
#      check with a throwaway certificate (tools/windows/signcheck.sh) and
#      the relink kit, which must link the same launcher again (skip these
#      with --no-test).
#
#   [ZORVAN_UPDATE_PUBLIC_KEY=HEX | ZORVAN_UPDATE_PUBLIC_KEY_FILE=KEY.pub]
#   [ZORVAN_SIGN_PKCS12=CERT.p12 [ZORVAN_SIGN_PASSWORD_FILE=FILE] [ZORVAN_SIGN_TIMESTAMP_URL=URL]]
#   tools/windows.sh [--no-test | --reproducibility-check]
#
# With a studio's public key in the environment the launcher is built to
# accept only updates signed with it; without one it is built without a key,
# whatever an earlier run left in build-windows. Likewise with a studio's
# Authenticode certificate the launcher, the uninstaller and the installer
# are signed (tools/sign-windows.sh), and without one none is.
#
# --reproducibility-check builds the launcher and the installer of the
# checked-out commit twice, from two clones in two directories, and
# compares them byte for byte (unsigned; about twice a launcher build).
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
sign_pkcs12=
[ -n "${ZORVAN_SIGN_PKCS12:-}" ] && sign_pkcs12=$(realpath -- "$ZORVAN_SIGN_PKCS12")
[ -n "${ZORVAN_SIGN_PASSWORD_FILE:-}" ] && export ZORVAN_SIGN_PASSWORD_FILE=$(realpath -- "$ZORVAN_SIGN_PASSWORD_FILE")
cd "$zorvan_root"

mode=${1:-}
zorvan_install_missing dpkg-dev g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
    autoconf automake libtool wine wine64 nsis fonts-dejavu-core osslsigncode openssl
zorvan_win_build_qt
zorvan_win_build_tinyxml2
zorvan_win_build_libsodium

# zorvan_win_configure SOURCE BUILD [cmake options...]
zorvan_win_configure() {
    local source=$1 build=$2
    shift 2
    cmake -S "$source" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$zorvan_win_qt;$zorvan_win_tinyxml2;$zorvan_win_libsodium" \
        -DZORVAN_UPDATE_PUBLIC_KEY="${ZORVAN_UPDATE_PUBLIC_KEY:-}" -DZORVAN_UPDATE_PUBLIC_KEY_FILE="$key_file_list" \
        "$@" >/dev/null
}

if [ "$mode" = --reproducibility-check ]; then
    repro=$(mktemp -d "${TMPDIR:-/tmp}/zorvan-repro.XXXXXX")
    trap 'rm -rf "$repro"' EXIT
    commit=$(git rev-parse HEAD)
    # One after the other, so that even the clones' file times differ.
    for clone in "$repro/a" "$repro/another directory"; do
        echo "== build of $commit in $clone"
        git clone -q --no-checkout "$zorvan_root" "$clone"
        git -C "$clone" checkout -q --detach "$commit"
        zorvan_win_configure "$clone" "$clone/build" -DZORVAN_BUILD_TESTS=OFF -DZORVAN_SIGN_PKCS12=
        cmake --build "$clone/build" -j"$(nproc)" --target zorvan-launcher installer >/dev/null
    done
    status=0
    for artefact in "Zorvan Lumeth.exe" "Zorvan Lumeth Setup.exe"; do
        sha256sum "$repro/a/build/$artefact" "$repro/another directory/build/$artefact"
        cmp "$repro/a/build/$artefact" "$repro/another directory/build/$artefact" || status=1
    done
    [ "$status" = 0 ] && echo "reproducible: both builds are byte-identical"
    exit "$status"
fi

# The build already runs Wine: the signing tests' throwaway keys are made by
# the Windows publisher. Both it and the tests use a prefix of their own.
source "$zorvan_root/tools/windows/wineenv.sh"
zorvan_wine_prefix

build=build-windows
echo "== Windows build ($build)"
zorvan_win_configure "$zorvan_root" "$build" -DZORVAN_SIGN_PKCS12="$sign_pkcs12" \
    -DZORVAN_SIGN_TIMESTAMP_URL="${ZORVAN_SIGN_TIMESTAMP_URL:-}"
cmake --build "$build" -j"$(nproc)"

echo "== installer"
cmake --build "$build" --target installer
ls -l "$build/Zorvan Lumeth.exe" "$build/zorvanlauncher_fr.qm" "$build/Zorvan Lumeth Setup.exe"

[ "$mode" = --no-test ] && exit 0

echo "== tests under Wine"
(cd "$build" && ctest --output-on-failure --timeout 600)
echo "== signing check (throwaway certificate)"
tools/windows/signcheck.sh "$build"

# The relink kit links the same launcher again (an unsigned one: a
# signature is not part of what the linker makes).
echo "== relink kit"
cmake --build "$build" --target relink-kit >/dev/null
if [ -z "$sign_pkcs12" ]; then
    relink=$(mktemp -d "${TMPDIR:-/tmp}/zorvan-relink.XXXXXX")
    cmake -E chdir "$relink" cmake -E tar xf "$zorvan_root/$build/Zorvan Lumeth relink kit.zip"
    status=0
    QT=$zorvan_win_qt sh "$relink/relink-kit/relink.sh" && cmp "$relink/relink-kit/Zorvan Lumeth.exe" "$build/Zorvan Lumeth.exe" \
        || status=1
    rm -rf "$relink"
    [ "$status" = 0 ] || exit 1
    echo "relinked from the kit: the same launcher, byte for byte"
fi
