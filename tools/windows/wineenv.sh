# A Wine prefix of its own for the Windows tests, made fresh in a temporary
# directory and removed at exit, so that no test sees the machine's own
# Wine registry or files, and the registry branch the launcher writes
# starts empty. Sourced by tools/windows.sh.

zorvan_wine_prefix() {
    zorvan_wine_dir=$(mktemp -d "${TMPDIR:-/tmp}/zorvan-wine.XXXXXX")
    export WINEPREFIX=$zorvan_wine_dir/prefix
    export WINEDEBUG=${WINEDEBUG:--all}
    # No Mono or Gecko installer dialogs, and no menu entries on the host for
    # the shortcuts the installer test makes.
    export WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"
    # Wine passes WINEQT_X to the Windows side as QT_X (QT_X itself stays on
    # the Unix side). Without a console, the toolkit's messages would go to
    # the debugger channel; the offscreen platform needs a font directory.
    export WINEQT_QPA_PLATFORM=offscreen
    export WINEQT_FORCE_STDERR_LOGGING=1
    export WINEQT_QPA_FONTDIR='Z:\usr\share\fonts\truetype\dejavu'
    trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$zorvan_wine_dir"' EXIT
    wineboot -i >/dev/null 2>&1
    wineserver -w
}
