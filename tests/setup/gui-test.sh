#!/bin/sh
# The real Setup.exe with the real libraries on the example installation,
# driven through its windows by fwauto, in the build tree's test prefix:
#   1. the whole run: confirm, progress, About box from the system menu,
#      repair, hardware check, closing message;
#   2. Cancel, the close box and Esc during the run.
# Keeps screenshots in the build tree (tests/setup/gui-*.png).
#   gui-test.sh BUILD_DIR WINE_LOADER
set -u
build=$1
wine=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/fwenv.sh"
bin="$build/bin"
out="$build/tests/setup"
fw_wine_env "$build/wineprefix"
export LC_ALL=C.UTF-8 # the example's update script is for US English systems

status=0
xvfb_pid=""
setup_pid=""
base="fwtest\\gui-$$"
root="$WINEPREFIX/drive_c/fwtest/gui-$$"
medium="$root/Pixora Patch"
apps="$root/Program Files/Pixora"

cleanup() {
    [ -n "$setup_pid" ] && kill "$setup_pid" 2>/dev/null
    [ -f "$medium/example-remove.reg" ] &&
        "$wine" regedit /S "$medium/example-remove.reg" </dev/null >/dev/null 2>&1
    rm -rf "$root"
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP PIPE

if [ -z "${DISPLAY:-}" ]; then
    fw_start_xvfb
    xvfb_pid=$fw_xvfb_pid
fi

auto() { "$wine" "$bin/fwauto.exe" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
pass() { echo "ok   $1"; }
fail() {
    echo "FAIL $1"
    status=1
}
# expect DESCRIPTION TEXT PATTERN: TEXT holds the fixed string PATTERN
expect() {
    if printf '%s' "$2" | grep -qF -- "$3"; then pass "$1"; else
        fail "$1: wanted \"$3\" in:"
        printf '%s\n' "$2" | sed 's/^/     /'
    fi
}
same_file() { cmp -s "$2" "$3" && pass "$1" || fail "$1"; }
gone() { [ ! -e "$2" ] && pass "$1" || fail "$1"; }
there() { [ -e "$2" ] && pass "$1" || fail "$1"; }
start_setup() {
    (cd "$medium" && exec "$wine" "C:\\$base\\Pixora Patch\\Setup.exe" </dev/null >/dev/null 2>&1) &
    setup_pid=$!
}
# Waits up to 10 s for Setup to end.
setup_ends() {
    i=0
    while kill -0 "$setup_pid" 2>/dev/null; do
        i=$((i + 1))
        [ $i -gt 100 ] && return 1
        sleep 0.1
    done
    setup_pid=""
}

"$here/example-install.sh" "$WINEPREFIX/drive_c" "$base" >/dev/null
for f in Setup.exe Scoutex.dll Mendex.dll patchres.dll devprobe.exe; do
    cp "$bin/$f" "$medium/"
done
"$wine" regedit /S "$medium/example.reg" </dev/null >/dev/null 2>&1

echo "-- the whole run"
start_setup
expect "confirmation asked" "$(auto box "Pixora Update" OK 30000)" "Click OK to start the update"
auto wait "Pixora Update" 10000 >/dev/null
expect "About box from the system menu" "$(auto about "Pixora Update" none 10000)" \
    "Fixwise Version 1.0"
import -window root "$out/gui-about.png" 2>/dev/null
auto box "About Fixwise" OK 10000 >/dev/null
sleep 0.3
import -window root "$out/gui-progress.png" 2>/dev/null
closing=$(auto box "*" none 30000)
expect "closing message" "$closing" "[Pixora Update]"
expect "closing message says the update is done" "$closing" "is up to date"
expect "progress at the end" "$(auto progress "Pixora Update")" "250"
import -window root "$out/gui-closing.png" 2>/dev/null
auto box "*" OK 10000 >/dev/null
setup_ends && pass "Setup ends after the closing message" || fail "Setup still running"

same_file "wrong filter replaced" "$apps/VEXsoft/PLUGINS12/PXFILTER.DLL" \
    "$medium/SOURCE/VEX/PXFILTER.DLL"
same_file "missing OCR bridge restored" "$apps/VEXsoft/PLUGINS12/PXOCR.DLL" \
    "$medium/SOURCE/VEX/PXOCR.DLL"
same_file "application of the newest release replaced" "$apps/Scan30/PXSCAN.EXE" \
    "$medium/SOURCE/APP/PXSCAN.EXE"
expect "older release untouched" "$(cat "$apps/Scan20/PXSCAN.EXE")" "release 2.0"
gone "stray file deleted" "$apps/VEXsoft/PLUGINS12/STRAY.TMP"
gone "old plug-in deleted" "$apps/VEXsoft/PLUGINS12/OLDPLUG.DLL"
there "subdirectory of the toolkit kept" "$apps/VEXsoft/PLUGINS12/Profiles/default.ini"
expect "registry written" "$(auto regdump HKLM 'Software\Orvantis\Pixora Scan\3.0')" \
    "PluginPath = \"C:\\$base\\Program Files\\Pixora\\VEXsoft\\PLUGINS12\""
# The probe runs on its own: give it up to 10 s to write its line.
i=0
while ! grep -q started "$medium/devprobe.log" 2>/dev/null && [ $i -lt 100 ]; do
    i=$((i + 1))
    sleep 0.1
done
expect "hardware check started from Setup's directory, quoted" \
    "$(cat "$medium/devprobe.log" 2>/dev/null)" "started: \"C:\\$base\\Pixora Patch\\devprobe.exe\""
log=$(tr -d '\r' <"$root/Pixora Logs/OvUpdErr.log" 2>/dev/null)
expect "search's log block" "$log" ">Last Pixora App: Pixora Scan\\3.0"
expect "update's log block" "$log" ">Update Start....."
[ "$(printf '%s\n' "$log" | grep -c -- '---------------- Log Start')" = 2 ] &&
    pass "two log blocks" || fail "two log blocks"

# cancel_run HOW: ends a run through HOW (cancel, close or escape)
cancel_run() {
    echo "-- $1 during the run"
    rm -f "$medium/devprobe.log"
    start_setup
    auto box "Pixora Update" OK 30000 >/dev/null
    auto wait "Pixora Update" 10000 >/dev/null
    auto "$1" "Pixora Update" >/dev/null
    auto gone "Pixora Update" 5000 && pass "window closes" || fail "window still open"
    setup_ends && pass "Setup ends" || fail "Setup still running"
    case "$(auto box "*" none 500)" in
    "no message box"*) pass "no message" ;;
    *) fail "a message after $1" ;;
    esac
    gone "no hardware check" "$medium/devprobe.log"
}
cancel_run cancel
cancel_run close
cancel_run escape

echo "screenshots: $out/gui-progress.png $out/gui-about.png $out/gui-closing.png"
exit $status
