#!/usr/bin/env bash
# Takes a picture of the launcher window as a player sees it: a demo
# installation one version behind, served by zorvan-serve on 127.0.0.1, the
# launcher under a virtual X server, the screen grabbed once the start-up
# check has had time to run.
#
#   tools/screenshot.sh [OUT.png]    (default: screenshot.png in the build directory)
#
# Environment:
#   BUILD_DIR      build directory, absolute or relative to the tree (build)
#   SHOT_LANG      the launcher's system language (en_US.UTF-8); fr_FR.UTF-8
#                  shows the French window
#   SHOT_DELAY_MS  wait before the grab (4000)
#   SHOT_KEEP      set to 1 to keep the demo directory and the launcher's log
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-build}
case $build in /*) ;; *) build=$root/$build ;; esac
out=${1:-$build/screenshot.png}
case $out in /*) ;; *) out=$PWD/$out ;; esac
lang=${SHOT_LANG:-en_US.UTF-8}
delay=${SHOT_DELAY_MS:-4000}

for tool in xvfb-run Xvfb cmake make md5sum sha1sum; do
    if ! command -v "$tool" >/dev/null; then
        echo "screenshot.sh: $tool is missing (Debian: apt-get install xvfb cmake make coreutils)" >&2
        exit 1
    fi
done

# Build what the picture needs.
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" >/dev/null
fi
targets="zorvan-launcher zorvan-serve zorvan-shot zorvan-demo-images"
if make -C "$build" help | grep -qw translations; then
    targets="$targets translations"
fi
make -C "$build" -j2 $targets >/dev/null

launcher=$build/zorvan-launcher
serve=$build/tools/loopserver/zorvan-serve
shot=$build/tools/shot/zorvan-shot
paint=$build/tools/shot/zorvan-demo-images

work=$(mktemp -d /tmp/zorvan-shot.XXXXXX)
serve_pid=
cleanup() {
    if [ -n "$serve_pid" ]; then
        kill "$serve_pid" 2>/dev/null || true
        wait "$serve_pid" 2>/dev/null || true
    fi
    if [ "${SHOT_KEEP:-0}" = 1 ]; then
        echo "demo kept in $work"
    else
        rm -rf "$work"
    fi
}
trap cleanup EXIT

install=$work/install
served=$work/server
mkdir -p "$install/Saves/Backup" "$served/data/levels" "$work/config"

# The server's side: version 1.4 with its patch notes and three game files.
printf '1.4\n' >"$served/version.txt"
cat >"$served/Notes des mises à jour.txt" <<'EOF'
<h2>Version 1.4</h2>
<ul>
<li>Nouvelle région : les marais de Quillon.</li>
<li>L'épée à deux mains frappe plus fort.</li>
<li>Corrections de la sauvegarde automatique.</li>
</ul>
<h3>Version 1.3</h3>
<p>Première version publique du jeu.</p>
EOF
printf 'Zorvan Lumeth - demo build\n' >"$served/Game.exe"
printf 'Bienvenue dans Zorvan Lumeth.\n' >"$served/data/readme.txt"
head -c 300000 /dev/zero | tr '\0' 'L' >"$served/data/levels/level1.dat"
{
    echo '<?xml version="1.0" encoding="UTF-8"?>'
    echo '<Files>'
    for rel in Game.exe data/readme.txt data/levels/level1.dat; do
        md5=$(md5sum "$served/$rel" | cut -d' ' -f1)
        sha1=$(sha1sum "$served/$rel" | cut -d' ' -f1)
        echo "  <File Name=\"${rel##*/}\" Path=\"/home/zorvanhost/www/game/$rel\" MD5=\"$md5\" SHA1=\"$sha1\"/>"
    done
    echo '</Files>'
} >"$served/file_listing.xml"

# The player's side: version 1.3 with a save and a backup.
printf '1.3\n' >"$install/localversion.txt"
printf 'party one\n' >"$install/Saves/Zorvan_Party-1"
printf 'before the boss\n' >"$install/Saves/Backup/avant-le-boss"
printf 'keys: default\n' >"$install/Saves/input.yml"
"$paint" "$install"
if [ -f "$build/zorvanlauncher_fr.qm" ]; then
    cp "$build/zorvanlauncher_fr.qm" "$install/"
fi

"$serve" "$served" 0 /game/ >"$work/serve.out" 2>"$work/serve.err" &
serve_pid=$!
base=
for _ in $(seq 50); do
    base=$(head -n 1 "$work/serve.out" 2>/dev/null || true)
    [ -n "$base" ] && break
    sleep 0.1
done
if [ -z "$base" ]; then
    echo "screenshot.sh: zorvan-serve did not start" >&2
    cat "$work/serve.err" >&2
    exit 1
fi

rm -f "$out"
# The launcher and the grabber share the virtual display; the launcher is
# stopped by its own id once the picture is taken.
env -u LC_ALL -u LANGUAGE LANG="$lang" QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" \
    ZORVAN_UPDATE_URL="$base" INSTALL="$install" LAUNCHER="$launcher" SHOT="$shot" OUT="$out" DELAY="$delay" \
    LOG="$work/launcher.log" \
    xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
        cd "$INSTALL"
        "$LAUNCHER" >"$LOG" 2>&1 &
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
