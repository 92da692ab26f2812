#!/bin/sh
# Runs a Windows program under Wine on a private X display (Xvfb), for tests
# whose programs show real windows:   wine-display.sh <wine> <program> [args]
# Wine's desktop binds to the display of the session that started it, so the
# session starts here (after any earlier one has ended) and ends before the
# display does.
set -u
wineserver -w
exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
    sh -c '"$@"; status=$?; wineserver -w; exit $status' wine-display "$@"
