#!/bin/sh
# Setup.exe with a library that breaks down in its call - throws, throws
# where no handler can be found, writes through a null pointer, aborts - in
# every mode: the run ends with exit code 1603 and says why in its run log;
# /quiet and /passive show no message box (/passive: the progress window) and never a
# crash dialog (the debugger would hold the process: the run would not end);
# interactively the user sees the failure text. The scripted library stands
# in for Scoutex.dll (it breaks down in the search) or Mendex.dll (in the
# update).
# On the 32-bit build every throw of a library finds no handler (each module
# has its own unwinder): it ends as an abort.
#   breakdown-test.sh BUILD_DIR WINE_LOADER POINTER_SIZE
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/fwenv.sh"
bin="$1/bin"
wine=$2
pointer_size=$3
fw_wine_env "$1/wineprefix"

base="fwtest\\breakdown-$$"
folder="$WINEPREFIX/drive_c/fwtest/breakdown-$$"
run_log="$folder/run.log"
cleanup() { rm -rf "$folder"; }
fw_script_start cleanup

auto() { "$wine" "$bin/fwauto.exe" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
expect() { fw_expect "$@"; }
# The medium: Setup and its texts, the scripted library in place of both.
mkdir -p "$folder"
for f in Setup.exe patchres.dll devprobe.exe; do cp "$bin/$f" "$folder/"; done
cp "$bin/ScriptedLibrary.dll" "$folder/Scoutex.dll"
cp "$bin/ScriptedLibrary.dll" "$folder/Mendex.dll"
setup="C:\\$base\\Setup.exe"

# script WHERE HOW: the library breaks down in the search or the update.
script() {
    rm -f "$folder/calls.txt" "$run_log"
    if [ "$1" = search ]; then
        printf '%s\n' "$2" >"$folder/search.txt"
        printf '0\n' >"$folder/repair.txt"
        library=Scoutex.dll
    else
        printf '0|Pixora Scan|3.0|1|1\n' >"$folder/search.txt"
        printf '%s\n' "$2" >"$folder/repair.txt"
        library=Mendex.dll
    fi
}
told() {
    case "$1" in
    throw) if [ "$pointer_size" = 4 ]; then
        printf '%s aborted' "$library"
    else
        printf '%s threw a C++ exception' "$library"
    fi ;;
    fault) printf '%s raised exception 0xC0000005 at %s+0x' "$library" "$library" ;;
    *) printf '%s aborted' "$library" ;;
    esac
}
debugger_started() { ps -eo args | grep -i 'winedbg' | grep -qv grep; }

for how in throw terminate fault abort; do
    for mode in /quiet /passive; do
        where=search
        [ "$mode" = /passive ] && where=update
        what="$how in the $where, $mode"
        script "$where" "$how"
        result=$(cd "$folder" && auto run 60000 "$setup" "$mode" /log "C:\\$base\\run.log")
        expect "$what: exit code 1603" "$result" "exit 1603"
        log=$(tr -d '\r' <"$run_log" 2>/dev/null)
        expect "$what: the run log tells" "$log" "$(told "$how")"
        expect "$what: the outcome logged" "$log" "outcome: $library did not return, exit code 1603"
        if [ "$mode" = /quiet ]; then
            expect "$what: no window at all" "$result" "windows 0"
        else
            expect "$what: the progress window" "$result" "window [#32770] Pixora Update"
            case "$result" in
            *Error*) fw_fail "$what: a message box was shown: $result" ;;
            *) fw_pass "$what: no message box" ;;
            esac
        fi
        debugger_started && fw_fail "$what: a crash dialog's debugger runs" ||
            fw_pass "$what: no crash dialog"
    done
    what="$how in the update, interactive"
    script update "$how"
    (cd "$folder" && auto run 60000 "$setup" /log "C:\\$base\\run.log" >"$folder/result.txt") &
    runner=$!
    auto box "Pixora Update" OK 30000 >/dev/null
    expect "$what: the failure text" "$(auto box "Pixora Update Error" OK 30000)" \
        "The update did not complete."
    wait "$runner"
    expect "$what: exit code 1603" "$(cat "$folder/result.txt")" "exit 1603"
    expect "$what: the run log tells" "$(tr -d '\r' <"$run_log")" "$(told "$how")"
done
exit $fw_status
