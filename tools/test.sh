#!/usr/bin/env bash
# Builds the launcher and passes its tests, installing what is missing:
#   1. a normal build and the whole CTest suite (offscreen; the end-to-end
#      tests start their own nginx on 127.0.0.1 and stop it afterwards);
#   2. a picture of the launcher window under Xvfb, checked not to be blank;
#   3. a build with AddressSanitizer and UndefinedBehaviorSanitizer, and the
#      suite again (skip with ZORVAN_SKIP_SANITIZERS=1);
#   4. the Windows launcher, its installer and the suite under Wine
#      (tools/windows.sh; skip with ZORVAN_SKIP_WINDOWS=1).
#
#   tools/test.sh
set -euo pipefail

zorvan_root=$(cd "$(dirname "$0")/.." && pwd)
source "$zorvan_root/tools/lib/deps.sh"
cd "$zorvan_root"

zorvan_install_missing
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

echo "== build"
zorvan_build build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== tests"
(cd build-test && ctest --output-on-failure -j"$jobs" --timeout 600)

echo "== screenshot under Xvfb"
BUILD_DIR=build-test tools/screenshot.sh build-test/screenshot.png

if [ "${ZORVAN_SKIP_SANITIZERS:-0}" != 1 ]; then
    echo "== sanitizer build"
    zorvan_build build-asan -DCMAKE_BUILD_TYPE=Debug -DZORVAN_SANITIZE=ON
    echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer"
    # Leak detection stays on; only the toolkit's own platform plug-in and
    # D-Bus allocations are suppressed.
    export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
    export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$zorvan_root/tests/e2e/lsan.supp}
    export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
    (cd build-asan && ctest --output-on-failure -j"$jobs" --timeout 900)
fi

if [ "${ZORVAN_SKIP_WINDOWS:-0}" != 1 ]; then
    echo "== Windows: cross-build, installer and the suite under Wine"
    bash tools/windows.sh
fi
