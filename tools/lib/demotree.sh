# Lays out a demo: a published game tree for the update server and a
# player's installation one version behind it. Sourced by tools/demo.sh and
# tools/screenshot.sh.
#
#   zorvan_demo_tree WORK BUILD   fills WORK/server (served below /game/),
#                                 WORK/install and WORK/config

# zorvan_build_demo BUILD: configures BUILD if needed and builds only what a
# demo runs: the launcher, its catalogue, the publisher, the loopback server,
# the image painter and the grabber.
zorvan_build_demo() {
    local build=$1
    [ -f "$build/CMakeCache.txt" ] || cmake -S "$zorvan_root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build" -j"$(nproc)" --target zorvan-launcher translations zorvan-publish zorvan-serve \
        zorvan-demo-images zorvan-shot >/dev/null
}

zorvan_demo_tree() {
    local work=$1 build=$2
    local served=$work/server install=$work/install
    mkdir -p "$served/data/levels" "$install/Saves/Backup" "$work/config"

    # The server's side: version 1.4 with its patch notes and the game files.
    cat >"$served/Notes des mises à jour.txt" <<'NOTES'
<h2>Version 1.4</h2>
<ul>
<li>Nouvelle région : les marais de Quillon.</li>
<li>L'épée à deux mains frappe plus fort.</li>
<li>Corrections de la sauvegarde automatique.</li>
</ul>
<h3>Version 1.3</h3>
<p>Première version publique du jeu.</p>
NOTES
    # A stand-in for the game: it records how it was started.
    cat >"$served/Game.exe" <<'GAME'
#!/bin/sh
echo "Zorvan Lumeth (demo build) started in $PWD with: $*" | tee -a game.log
GAME
    printf 'Bienvenue dans Zorvan Lumeth.\n' >"$served/data/readme.txt"
    head -c 3000000 /dev/urandom >"$served/data/levels/level1.dat"
    head -c 500000 /dev/urandom >"$served/data/levels/marais.dat"
    QT_QPA_PLATFORM=offscreen "$build/tools/shot/zorvan-demo-images" "$served" >/dev/null
    "$build/tools/publish/zorvan-publish" "$served" --set-version 1.4 >/dev/null

    # The player's side: version 1.3, a save and a backup, the launcher.
    printf '1.3\n' >"$install/localversion.txt"
    printf 'party one\n' >"$install/Saves/Zorvan_Party-1"
    printf 'before the boss\n' >"$install/Saves/Backup/avant-le-boss"
    printf 'keys: default\n' >"$install/Saves/input.yml"
    QT_QPA_PLATFORM=offscreen "$build/tools/shot/zorvan-demo-images" "$install" >/dev/null
    cp "$build/zorvan-launcher" "$install/Zorvan Lumeth.exe"
    if [ -f "$build/zorvanlauncher_fr.qm" ]; then
        cp "$build/zorvanlauncher_fr.qm" "$install/"
    fi
}

# zorvan_serve DIR LOG_PREFIX: starts zorvan-serve on DIR, sets zorvan_serve_pid
# and zorvan_base_url.
zorvan_serve() {
    local dir=$1 log=$2 _
    "$zorvan_build_dir/tools/loopserver/zorvan-serve" "$dir" 0 /game/ >"$log.out" 2>"$log.err" &
    zorvan_serve_pid=$!
    zorvan_base_url=
    for _ in $(seq 50); do
        zorvan_base_url=$(head -n 1 "$log.out" 2>/dev/null || true)
        [ -n "$zorvan_base_url" ] && return 0
        sleep 0.1
    done
    echo "zorvan-serve did not start:" >&2
    cat "$log.err" >&2
    return 1
}
