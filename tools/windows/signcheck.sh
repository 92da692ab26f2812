#!/usr/bin/env bash
# Proves the signing road with a throwaway certificate authority: the
# launcher and a "Launcher_new.exe" signed by tools/sign-windows.sh, an
# installer packed from that launcher with signing on, its uninstaller as
# the installer lays it down under Wine; each must pass
# `osslsigncode verify` against that authority, and the unsigned build's
# launcher must not. Run by tools/windows.sh after the suite, in its Wine
# prefix; nothing is sent anywhere (no timestamp server).
#
#   tools/windows/signcheck.sh BUILD_DIR
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/zorvan-sign.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

echo throwaway > password
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj "/CN=Throwaway CA" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout studio.key -out studio.csr -subj "/CN=Throwaway Studio" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' > studio.ext
openssl x509 -req -in studio.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile studio.ext \
    -out studio.pem 2>/dev/null
openssl pkcs12 -export -inkey studio.key -in studio.pem -certfile ca.pem -passout file:password -out studio.p12
export ZORVAN_SIGN_PKCS12=$work/studio.p12 ZORVAN_SIGN_PASSWORD_FILE=$work/password
unset ZORVAN_SIGN_PASSWORD ZORVAN_SIGN_TIMESTAMP_URL

cp "$build/Zorvan Lumeth.exe" launcher.exe
cp "$build/Zorvan Lumeth.exe" Launcher_new.exe
"$root/tools/sign-windows.sh" launcher.exe Launcher_new.exe
makensis -V2 -WX -INPUTCHARSET UTF8 "-DINPUTS=$build/installer-inputs.nsh" "-DLAUNCHER=$work/launcher.exe" \
    "-DOUTFILE=$work/Zorvan Lumeth Setup.exe" "-DSIGN=$root/tools/sign-windows.sh" "$root/tools/windows/installer.nsi"
wine "Zorvan Lumeth Setup.exe" /S "/D=$(winepath -w "$work/installed")" 2>/dev/null
wineserver -w

failed=0
verify() {
    if osslsigncode verify -CAfile ca.pem -in "$1" >verify.log 2>&1; then
        echo "signed: $1"
    else
        cat verify.log
        echo "NOT SIGNED: $1"
        failed=1
    fi
}
verify launcher.exe
verify Launcher_new.exe
verify "Zorvan Lumeth Setup.exe"
verify "installed/Zorvan Lumeth.exe"
verify installed/Uninstall.exe
if osslsigncode verify -CAfile ca.pem -in "$build/Zorvan Lumeth.exe" >/dev/null 2>&1; then
    echo "the unsigned launcher passed verification"
    failed=1
fi

wine installed/Uninstall.exe /S "_?=$(winepath -w "$work/installed")" 2>/dev/null
wineserver -w
exit $failed
