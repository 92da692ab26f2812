#!/usr/bin/env bash
# Runs two launcher builds through the same update against nginx on
# 127.0.0.1 and compares what shows of them: the requests (with their
# answers: a nested accented name, a 404, a redirect), the debug lines and
# every file of the installation afterwards. Used to show that a change
# leaves a build without a studio key as it was.
#
#   tools/compare-runs.sh OLD_LAUNCHER NEW_LAUNCHER PUBLISHER
#
# The debug line of the application icon, which later builds no longer
# write, is left out of the comparison.
set -euo pipefail
old=$(realpath "$1") new=$(realpath "$2") publisher=$(realpath "$3")
work=$(mktemp -d /tmp/zorvan-compare.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/www/game/Données/Cartes" "$work/www/store" "$work/logs"
w=$work/www/game
printf '2\n' >"$w/version.txt"
printf '<b>notes 2</b>\n' >"$w/Notes des mises à jour.txt"
printf 'game 2' >"$w/Game.exe"
head -c 300000 /dev/urandom >"$w/Données/Cartes/é 01.dat"
printf 'kept' >"$w/kept.dat"
printf 'moved' >"$w/moved.dat"
printf 'gone' >"$w/gone.dat"
"$publisher" "$w" >/dev/null
rm "$w/gone.dat"; mv "$w/moved.dat" "$work/www/store/moved.dat"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat >"$work/nginx.conf" <<CONF
daemon off; master_process off; pid $work/nginx.pid; error_log $work/logs/error.log;
events {}
http { default_type application/octet-stream; log_format c '\$status \$request_uri'; access_log $work/logs/access.log c;
  client_body_temp_path $work/logs; proxy_temp_path $work/logs; fastcgi_temp_path $work/logs; uwsgi_temp_path $work/logs; scgi_temp_path $work/logs;
  server { listen 127.0.0.1:$port; root $work/www; location = /game/moved.dat { return 301 /store/moved.dat; } } }
CONF
nginx -c "$work/nginx.conf" -p "$work" & ng=$!
sleep 0.5
for who in old new; do
    inst=$work/$who; mkdir -p "$inst/Data" "$inst.side"; chmod 700 "$inst.side"
    printf '1\n' >"$inst/localversion.txt"; printf 'game 1' >"$inst/Game.exe"; printf 'kept' >"$inst/kept.dat"; printf 'mine' >"$inst/Data/own.txt"
    : >"$inst/file_listing.php"
    : >"$work/logs/access.log"
    bin=$old; [ $who = new ] && bin=$new
    (cd "$inst" && QT_QPA_PLATFORM=offscreen QT_FORCE_STDERR_LOGGING=1 LC_ALL=C.UTF-8 XDG_CONFIG_HOME=$inst.side XDG_DATA_HOME=$inst.side \
        XDG_CACHE_HOME=$inst.side XDG_RUNTIME_DIR=$inst.side ZORVAN_UPDATE_URL=http://127.0.0.1:$port/game/ exec "$bin" 2>"$work/$who.log") & pid=$!
    while [ -e "$inst/file_listing.php" ]; do sleep 0.1; done; sleep 0.5; kill $pid; wait $pid || true
    cp "$work/logs/access.log" "$work/$who.access"
    (cd "$inst" && find . -type f -print0 | sort -z | xargs -0 sha1sum) >"$work/$who.files"
    grep -v -e "^Icône de l'application" -e propagateSizeHints "$work/$who.log" | sed "s#127.0.0.1:$port#HOST#" >"$work/$who.lines"
done
kill $ng; wait $ng || true
status=0
for part in access files lines; do
    if cmp -s "$work/old.$part" "$work/new.$part"; then
        echo "$part: identical ($(wc -l <"$work/new.$part") lines)"
    else
        echo "$part: DIFFER"
        diff "$work/old.$part" "$work/new.$part" | head -20
        status=1
    fi
done
exit $status
