#!/bin/sh
# Hardened loading: a comctl32.dll planted in the folder Setup runs from is
# never loaded, even when Wine is told to prefer a native comctl32.dll to its
# own (WINEDLLOVERRIDES). The planted stand-in writes planted-loaded.txt
# beside itself when it is loaded; a program that imports comctl32.dll
# without Setup's manifest first shows that the trace would appear.
#   planted-dll-test.sh BUILD_DIR WINE_LOADER
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/fwenv.sh"
bin="$1/bin"
wine=$2
fw_wine_env "$1/wineprefix"
WINEDLLOVERRIDES="$WINEDLLOVERRIDES;comctl32=n,b"

base="fwtest\\planted-$$"
folder="$WINEPREFIX/drive_c/fwtest/planted-$$"
marker="$folder/planted-loaded.txt"
cleanup() { rm -rf "$folder"; }
fw_script_start cleanup

auto() { "$wine" "$bin/fwauto.exe" "$@" </dev/null 2>/dev/null | tr -d '\r'; }

# A downloads folder: Setup and its texts, the control program and the
# planted library. Scoutex.dll is missing, so a run ends at once.
mkdir -p "$folder"
for f in Setup.exe patchres.dll ImportsComctl.exe; do
    cp "$bin/$f" "$folder/"
done
cp "$bin/PlantedComctl.dll" "$folder/comctl32.dll"

echo "-- the control: no manifest"
(cd "$folder" && "$wine" "C:\\$base\\ImportsComctl.exe" </dev/null >/dev/null 2>&1)
if [ -e "$marker" ]; then
    fw_pass "the planted comctl32.dll is loaded by a program without the manifest"
else
    fw_fail "the planted library left no trace even without the manifest: the test proves nothing"
fi
rm -f "$marker"

for mode in /quiet /passive; do
    echo "-- Setup $mode"
    result=$(cd "$folder" && auto run 30000 "C:\\$base\\Setup.exe" $mode /log "C:\\$base\\run.log")
    case "$result" in
    *"exit 1603"*) fw_pass "Setup ran (Scoutex.dll missing: exit code 1603)" ;;
    *) fw_fail "Setup did not run as expected: $result" ;;
    esac
    if [ -e "$marker" ]; then
        fw_fail "Setup $mode loaded the planted comctl32.dll"
    else
        fw_pass "Setup $mode did not load the planted comctl32.dll"
    fi
    rm -f "$marker"
done
grep -q "outcome: Scoutex.dll or its export missing" "$folder/run.log" &&
    fw_pass "the runs reached the search library" || fw_fail "the runs did not reach the search library"
exit $fw_status
