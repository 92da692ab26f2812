#!/usr/bin/env bash
# Takes a picture of the launcher window as a player sees it: the demo of
# tools/demo.sh (an installation one version behind, served by zorvan-serve
# on 127.0.0.1), the launcher under a virtual X server, the window grabbed
# once the start-up check has had time to run.
#
#   tools/screenshot.sh [OUT.png]    (default: screenshot.png in the build directory)
#
# Environment:
#   BUILD_DIR      build directory, absolute or relative to the tree (build)
#   SHOT_LANG      the launcher's system language (en_US.UTF-8); fr_FR.UTF-8
#                  shows the French window
#   SHOT_DELAY_MS  wait before the grab (4000)
#   SHOT_SCALE     the display's scale, as a desktop set to 150 % gives it
#                  (1; 1.5 makes the virtual screen 144 dots per inch)
#   SHOT_KEEP      set to 1 to keep the demo directory and the launcher's log
set -euo pipefail

zorvan_root=$(cd "$(dirname "$0")/.." && pwd)
source "$zorvan_root/tools/lib/demotree.sh"
build=${BUILD_DIR:-build}
case $build in /*) ;; *) build=$zorvan_root/$build ;; esac
zorvan_build_dir=$build
out=${1:-$build/screenshot.png}
case $out in /*) ;; *) out=$PWD/$out ;; esac
lang=${SHOT_LANG:-en_US.UTF-8}
delay=${SHOT_DELAY_MS:-4000}
dpi=$(awk -v scale="${SHOT_SCALE:-1}" 'BEGIN { printf "%d", 96 * scale + 0.5 }')

for tool in xvfb-run Xvfb cmake; do
    if ! command -v "$tool" >/dev/null; then
        echo "screenshot.sh: $tool is missing (Debian: apt-get install xvfb cmake)" >&2
        exit 1
    fi
done

zorvan_build_demo "$build"
shot=$build/tools/shot/zorvan-shot

work=$(mktemp -d /tmp/zorvan-shot.XXXXXX)
zorvan_serve_pid=
cleanup() {
    if [ -n "$zorvan_serve_pid" ]; then
        kill "$zorvan_serve_pid" 2>/dev/null || true
        wait "$zorvan_serve_pid" 2>/dev/null || true
    fi
    if [ "${SHOT_KEEP:-0}" = 1 ]; then
        echo "demo kept in $work"
    else
        rm -rf "$work"
    fi
}
trap cleanup EXIT

zorvan_demo_tree "$work" "$build"
zorvan_serve "$work/server" "$work/serve"

rm -f "$out"
# The launcher and the grabber share the virtual display; the launcher is
# stopped by its own id once the picture is taken.
env -u LC_ALL -u LANGUAGE LANG="$lang" QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" \
    XDG_DATA_HOME="$work/data" ZORVAN_UPDATE_URL="$zorvan_base_url" INSTALL="$work/install" SHOT="$shot" OUT="$out" \
    DELAY="$delay" LOG="$work/launcher.log" \
    xvfb-run -a -s "-screen 0 1920x1200x24 -dpi $dpi" bash -c '
        cd "$INSTALL"
        ./"Zorvan Lumeth.exe" >"$LOG" 2>&1 &
        pid=$!
        "$SHOT" "$OUT" "$DELAY"
        status=$?
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        exit $status'

if ! "$shot" --check "$out"; then
    echo "screenshot.sh: the picture is blank; the launcher said:" >&2
    cat "$work/launcher.log" >&2
    exit 1
fi
echo "$out"
