# The proof that a game of any size installs: a publication with one file of
# 4.5 GiB, served by nginx on 127.0.0.1 from a sparse file, installed by the
# real launcher and then checked by a Repair. Sourced by tools/reliability.sh.

# zorvan_big_launcher_run INSTALL BASE_URL LOG: one start of the launcher in
# INSTALL until its update run is over (it deletes the planted
# "file_listing.php" at the end of every run); prints its peak memory in KiB.
zorvan_big_launcher_run() {
    local install=$1 base=$2 log=$3 pid peak=0 kib
    local side=$install.side
    mkdir -p "$side"
    chmod 700 "$side"
    : >"$install/file_listing.php"
    (cd "$install" && QT_FORCE_STDERR_LOGGING=1 LC_ALL=C.UTF-8 XDG_CONFIG_HOME=$side XDG_CACHE_HOME=$side \
        XDG_DATA_HOME=$side XDG_RUNTIME_DIR=$side ZORVAN_UPDATE_URL=$base exec "$launcher" >"$log" 2>&1) &
    pid=$!
    while [ -e "$install/file_listing.php" ] && kill -0 "$pid" 2>/dev/null; do
        kib=$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)
        [ -n "$kib" ] && peak=$kib
        sleep 0.2
    done
    kib=$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)
    [ -n "$kib" ] && peak=$kib
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    echo "$peak"
}

zorvan_big_file_proof() {
    local build=$1 work=$2 port big_kib small_kib repair_kib status=0
    launcher=$build/zorvan-launcher
    local publisher=$build/tools/publish/zorvan-publish
    mkdir -p "$work/www/game/Data" "$work/www/small/Data" "$work/logs"
    echo "build 2" >"$work/www/game/Game.exe"
    truncate -s 4608M "$work/www/game/Data/huge.pak"
    cp "$work/www/game/Game.exe" "$work/www/small/Game.exe"
    echo "== publishing a 4.5 GiB file"
    "$publisher" "$work/www/game" --set-version 2 >/dev/null
    "$publisher" "$work/www/small" --set-version 2 >/dev/null
    port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    cat >"$work/nginx.conf" <<CONF
daemon off; master_process off; pid $work/nginx.pid; error_log $work/logs/error.log;
events {}
http { default_type application/octet-stream; access_log off; client_body_temp_path $work/logs; proxy_temp_path $work/logs; fastcgi_temp_path $work/logs;
  uwsgi_temp_path $work/logs; scgi_temp_path $work/logs;
  server { listen 127.0.0.1:$port; root $work/www; } }
CONF
    nginx -c "$work/nginx.conf" -p "$work" &
    local nginx_pid=$!
    for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$port/game/version.txt" && break; sleep 0.1; done

    mkdir -p "$work/small-install" "$work/install"
    echo "1" >"$work/small-install/localversion.txt"
    echo "1" >"$work/install/localversion.txt"
    echo "== the same publication without the large file, for the baseline"
    small_kib=$(zorvan_big_launcher_run "$work/small-install" "http://127.0.0.1:$port/small/" "$work/small.log")
    echo "== synchronisation (4.5 GiB over nginx)"
    local start=$SECONDS
    big_kib=$(zorvan_big_launcher_run "$work/install" "http://127.0.0.1:$port/game/" "$work/sync.log")
    echo "   $((SECONDS - start)) s"
    if ! cmp -s "$work/www/game/Data/huge.pak" "$work/install/Data/huge.pak" \
        || [ "$(cat "$work/install/localversion.txt")" != 2 ]; then
        echo "FAILED: the large file or the version is not as published"; status=1
    fi
    echo "== Repair (every file hashed again; nothing may be fetched)"
    printf '0.0\n' >"$work/install/localversion.txt"
    start=$SECONDS
    repair_kib=$(zorvan_big_launcher_run "$work/install" "http://127.0.0.1:$port/game/" "$work/repair.log")
    echo "   $((SECONDS - start)) s"
    if grep -q '^Url : ' "$work/repair.log" || [ "$(cat "$work/install/localversion.txt")" != 2 ]; then
        echo "FAILED: Repair fetched again or did not record the version"; status=1
    fi
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
    echo "peak memory: without the large file $((small_kib / 1024)) MiB, synchronisation $((big_kib / 1024)) MiB" \
        "(growth $(((big_kib - small_kib) / 1024)) MiB), Repair $((repair_kib / 1024)) MiB (growth $(((repair_kib - small_kib) / 1024)) MiB)"
    return $status
}
