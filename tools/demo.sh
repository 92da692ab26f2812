#!/usr/bin/env bash
# Runs the launcher's main job on a built-in demo: installs what is missing,
# builds, publishes a demo game (version 1.4) on a loopback update server,
# lays out a player's installation one version behind and starts the
# launcher in it, which brings the installation up to date.
#
#   tools/demo.sh                  start the launcher on this display
#   tools/demo.sh --xvfb [OUT.png] run it under a virtual X server instead, and
#                                  save a picture of the window (demo.png)
#   tools/demo.sh --dir DIR        keep the demo in DIR (default: a temporary
#                                  directory, removed afterwards)
#   tools/demo.sh --signed         signed updates: a throwaway studio key in
#                                  DIR/studio, a launcher built with it (in
#                                  BUILD-signed) and a signed publication
#
# Nothing leaves the machine: the server listens on 127.0.0.1 only, and the
# launcher's settings go to the demo's own directory.
set -euo pipefail

zorvan_root=$(cd "$(dirname "$0")/.." && pwd)
zorvan_build_dir=${BUILD_DIR:-$zorvan_root/build}
source "$zorvan_root/tools/lib/deps.sh"
source "$zorvan_root/tools/lib/demotree.sh"

xvfb=0 shot=$PWD/demo.png work= keep=0 signed=0
while [ $# -gt 0 ]; do
    case $1 in
    --xvfb)
        xvfb=1
        if [ $# -gt 1 ] && [[ $2 != --* ]]; then shot=$2; shift; fi
        ;;
    --dir) work=$2; keep=1; shift ;;
    --signed) signed=1 ;;
    -h | --help) sed -n '2,18p' "$0"; exit 0 ;;
    *) echo "demo.sh: unknown option $1" >&2; exit 2 ;;
    esac
    shift
done
case $shot in /*) ;; *) shot=$PWD/$shot ;; esac

if [ $xvfb = 0 ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "demo.sh: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set)." >&2
    echo "Run it from a desktop session, or as 'tools/demo.sh --xvfb' to run it under a virtual X server" >&2
    echo "and get a picture of the window in demo.png." >&2
    exit 1
fi

zorvan_install_missing
zorvan_build_demo "$zorvan_build_dir"

if [ -z "$work" ]; then
    work=$(mktemp -d /tmp/zorvan-demo.XXXXXX)
else
    rm -rf "$work/install" "$work/server" "$work/config" "$work/studio"
    mkdir -p "$work"
fi
work=$(cd "$work" && pwd)
zorvan_serve_pid=
cleanup() {
    [ -n "$zorvan_serve_pid" ] && kill "$zorvan_serve_pid" 2>/dev/null || true
    if [ $keep = 0 ]; then rm -rf "$work"; else echo "demo kept in $work"; fi
}
trap cleanup EXIT

demo_build=$zorvan_build_dir
if [ $signed = 1 ]; then
    # The studio's key never leaves the demo directory; the launcher gets
    # its public half at build time.
    mkdir -p "$work/studio"
    "$zorvan_build_dir/tools/publish/zorvan-publish" --generate-key "$work/studio/update.key" >/dev/null
    demo_build=$zorvan_build_dir-signed
    zorvan_build "$demo_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORVAN_BUILD_TESTS=OFF \
        -DZORVAN_UPDATE_PUBLIC_KEY_FILE="$work/studio/update.key.pub"
fi
zorvan_demo_tree "$work" "$demo_build"
if [ $signed = 1 ]; then
    "$demo_build/tools/publish/zorvan-publish" "$work/server" --set-version 1.4 --sign "$work/studio/update.key"
fi
zorvan_serve "$work/server" "$work/serve"
echo "Update server: $zorvan_base_url (serving $work/server)"
echo "Installation:  $work/install"

export ZORVAN_UPDATE_URL=$zorvan_base_url XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache XDG_DATA_HOME=$work/data
echo "Launcher log:  $work/data/Team Quillon/Zorvan Lumeth/launcher.log"
cd "$work/install"
if [ $xvfb = 0 ]; then
    ./"Zorvan Lumeth.exe"
    echo "The launcher ended. Installed version: $(cat localversion.txt 2>/dev/null || echo none)"
else
    rm -f "$shot"
    SHOT="$zorvan_build_dir/tools/shot/zorvan-shot" OUT=$shot LOG=$work/launcher.log \
        xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
            QT_QPA_PLATFORM=xcb ./"Zorvan Lumeth.exe" >"$LOG" 2>&1 &
            pid=$!
            "$SHOT" "$OUT" 5000
            status=$?
            kill "$pid" 2>/dev/null
            wait "$pid" 2>/dev/null
            exit $status'
    echo "Installed version after the start-up check: $(cat localversion.txt 2>/dev/null || echo none)"
    if [ $signed = 1 ]; then
        echo "Signed publication taken: $(grep -h update_sequence "$work/config/Team Quillon/Zorvan Lumeth.conf" || echo none)"
    fi
    echo "Picture of the window: $shot"
fi
