#!/bin/sh
# A signed patch medium, laid out by the build host's fixwise from the
# stripped 32-bit deliverables and the example data, and fixwise verify of
# copies of it: clean as laid out; each kind of damage reported on its own
# line. A throwaway self-signed certificate (and an expired one) is made
# here with openssl. Keys that cannot sign write nothing. With WINE_RUN the
# damaged copies are verified by the Windows fixwise.exe as well (WORK is
# then a folder of the prefix's C:, WIN_WORK its Windows path).
#   medium-test.sh FIXWISE STRIP BIN WORK [WINE_RUN WIN_WORK]
set -u
fixwise=$1
strip=$2
bin=$3
work=$4
wine_run=${5:-}
win_work=${6:-}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/fwenv.sh"
expect() { fw_expect "$@"; }
rm -rf "$work"
mkdir -p "$work/bin" "$work/keys"
cleanup() { rm -rf "$work"; }
fw_script_start cleanup

for f in Setup.exe Scoutex.dll Mendex.dll patchres.dll devprobe.exe; do
    "$strip" --strip-all -o "$work/bin/$f" "$bin/$f"
done
sh "$here/../../tools/example-install.sh" "$work/example" "" >/dev/null
data="$work/example/Pixora Patch"

# The keys: a good one with a password, another, an expired one.
keys="$work/keys"
cert() { # cert NAME START END: a self-signed certificate valid from START to END
    printf '[ca]\ndefault_ca=d\n[d]\ndatabase=%s/index\nnew_certs_dir=%s\nserial=%s/serial\ndefault_md=sha256\npolicy=p\n[p]\ncommonName=supplied\n' \
        "$keys" "$keys" "$keys" >"$keys/ca.cnf"
    : >"$keys/index"
    echo 01 >"$keys/serial"
    openssl req -new -newkey rsa:2048 -nodes -keyout "$keys/$1.key" -out "$keys/$1.csr" \
        -subj "/CN=Fixwise test $1" 2>/dev/null
    openssl ca -batch -config "$keys/ca.cnf" -selfsign -keyfile "$keys/$1.key" \
        -in "$keys/$1.csr" -out "$keys/$1.pem" -startdate "$2" -enddate "$3" >/dev/null 2>&1
}
now=$(date -u +%Y%m%d%H%M%SZ)
later=$(date -u -d '+30 days' +%Y%m%d%H%M%SZ)
cert good "$now" "$later"
cert other "$now" "$later"
cert old 20200101000000Z 20200201000000Z
echo "a password" >"$keys/password"
openssl pkcs12 -export -out "$keys/good.pfx" -inkey "$keys/good.key" -in "$keys/good.pem" \
    -passout "file:$keys/password"
openssl pkcs12 -export -out "$keys/other.pfx" -inkey "$keys/other.key" -in "$keys/other.pem" \
    -passout pass:
openssl pkcs12 -export -out "$keys/old.pfx" -inkey "$keys/old.key" -in "$keys/old.pem" \
    -passout pass:
echo "not the password" >"$keys/wrong"

medium() { "$fixwise" medium --out "$work/medium" --bin "$work/bin" "$@" "$data" 2>&1; }
refused() { # refused DESCRIPTION WHY ARGS: exit 1 with WHY, nothing laid out
    what=$1
    why=$2
    shift 2
    said=$(medium "$@")
    code=$?
    expect "$what: exit code 1" "exit $code" "exit 1"
    expect "$what: says why" "$said" "$why"
    [ ! -e "$work/medium" ] && fw_pass "$what: nothing written" || fw_fail "$what: written"
}
refused "wrong password" "the password does not open the certificate" \
    --sign "$keys/good.pfx" --password-file "$keys/wrong"
refused "expired certificate" "has expired" --sign "$keys/old.pfx"
refused "no certificate" "cannot read the certificate" --sign "$keys/none.pfx"

said=$(medium --sign "$keys/good.pfx" --password-file "$keys/password")
expect "signed medium laid out" "$said" "version 1.0.0.2, signed, 11 files"
expect "sha256sum checks it" "$(cd "$work/medium" && sha256sum -c --quiet SHA256SUMS 2>&1; echo "exit $?")" "exit 0"
expect "version" "$("$fixwise" --version)" "fixwise 1.0.0.2"

verify() { "$fixwise" verify "$1" --ca "$keys/good.pem" 2>&1; echo "exit $?"; }
expect "as laid out: clean" "$(verify "$work/medium")" "0 error(s)"
expect "as laid out: exit 0" "$(verify "$work/medium")" "exit 0"
if [ -n "$wine_run" ]; then
    expect "as laid out, on Windows: clean" \
        "$("$wine_run" "$bin/fixwise.exe" verify "$win_work\\medium" | tr -d '\r')" "0 error(s)"
fi
expect "without the certificate: untrusted" "$("$fixwise" verify "$work/medium" 2>&1)" \
    "Mendex.dll: error: its signature's certificate is not trusted"

# damaged DESCRIPTION LINE COMMAND: a copy, damaged by COMMAND (run in it),
# is reported with LINE and exit 1.
damaged() {
    rm -rf "$work/copy"
    cp -a "$work/medium" "$work/copy"
    (cd "$work/copy" && eval "$3")
    found=$(verify "$work/copy")
    expect "$1: reported" "$found" "$2"
    expect "$1: exit 1" "$found" "exit 1"
    [ -n "$wine_run" ] || return 0
    found=$("$wine_run" "$bin/fixwise.exe" verify "$win_work\\copy" | tr -d '\r'; echo "exit $?")
    expect "$1, on Windows: reported" "$found" "$2"
}
damaged "one byte of Mendex.dll" "SHA256SUMS:1: error: Mendex.dll has another SHA-256" \
    "printf 'X' | dd of=Mendex.dll bs=1 seek=4000 conv=notrunc 2>/dev/null"
damaged "one byte of Mendex.dll, its signature" \
    "Mendex.dll: error: its signature does not match its contents" \
    "printf 'X' | dd of=Mendex.dll bs=1 seek=4000 conv=notrunc 2>/dev/null"
damaged "a SOURCE file's time" "Resolve.src:2: error: resolve source" \
    "touch 'SOURCE/VEX/PXFILTER.DLL'"
damaged "a file deleted" "SOURCE/APP/PXSCAN.EXE is missing" "rm SOURCE/APP/PXSCAN.EXE"
damaged "a stray file" "notes.txt: error: is not listed in SHA256SUMS" "echo x >notes.txt"
damaged "a binary signed with another certificate" \
    "devprobe.exe: error: is signed by " \
    "osslsigncode sign -pkcs12 '$keys/other.pfx' -h sha256 -in devprobe.exe -out d.exe >/dev/null &&
     mv d.exe devprobe.exe && sha256sum devprobe.exe >/dev/null"
exit $fw_status
