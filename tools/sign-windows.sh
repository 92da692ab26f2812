#!/usr/bin/env bash
# Signs Windows executables in place with a studio's Authenticode
# certificate (osslsigncode, installed when missing): the launcher, its
# installer and uninstaller (tools/windows.sh and the installer build call
# this), and a launcher build the studio publishes as "Launcher_new.exe".
#
#   ZORVAN_SIGN_PKCS12=CERT.p12 [ZORVAN_SIGN_PASSWORD_FILE=FILE | ZORVAN_SIGN_PASSWORD=...]
#   [ZORVAN_SIGN_TIMESTAMP_URL=http://timestamp.example/] tools/sign-windows.sh FILE...
#
# CERT.p12 holds the certificate, its chain and its private key. The
# password is best given in a file (owner-only), never on a command line;
# it is handed to osslsigncode through a pipe. With a timestamp URL each
# signature is countersigned by that RFC 3161 server, so that it stays valid
# after the certificate expires; without one no server is contacted.
set -euo pipefail

if [ -z "${ZORVAN_SIGN_PKCS12:-}" ] || [ $# -eq 0 ]; then
    echo "usage: ZORVAN_SIGN_PKCS12=CERT.p12 [ZORVAN_SIGN_PASSWORD_FILE=FILE] $0 FILE..." >&2
    exit 2
fi
if ! command -v osslsigncode >/dev/null; then
    source "$(dirname "$0")/lib/deps.sh"
    zorvan_packages=()
    zorvan_install_missing osslsigncode
fi

password=()
if [ -n "${ZORVAN_SIGN_PASSWORD_FILE:-}" ]; then
    password=(-readpass "$ZORVAN_SIGN_PASSWORD_FILE")
elif [ -n "${ZORVAN_SIGN_PASSWORD:-}" ]; then
    password=(-readpass /dev/stdin)
fi
timestamp=()
[ -n "${ZORVAN_SIGN_TIMESTAMP_URL:-}" ] && timestamp=(-ts "$ZORVAN_SIGN_TIMESTAMP_URL")

for file in "$@"; do
    # osslsigncode writes a new file; it takes the old one's name only once
    # it is complete.
    signed="$file.signing"
    rm -f "$signed"
    if ! printf '%s' "${ZORVAN_SIGN_PASSWORD:-}" | osslsigncode sign -pkcs12 "$ZORVAN_SIGN_PKCS12" "${password[@]}" \
        -h sha256 -n "Zorvan Lumeth" -i "http://zorvanlumeth.com/" "${timestamp[@]}" \
        -in "$file" -out "$signed" >/dev/null; then
        rm -f "$signed"
        echo "$0: could not sign $file" >&2
        exit 1
    fi
    mv -f "$signed" "$file"
done
