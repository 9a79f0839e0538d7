#!/bin/sh
# The real Setup.exe with the real libraries on the example installation,
# driven through its windows by fwauto, in the build tree's test prefix:
#   1. the whole run: confirm, progress, About box from the system menu,
#      repair, hardware check, closing message;
#   2. Cancel, the close box and Esc during the run;
#   3. unattended runs (/quiet, /passive, /log) and the exit code of every
#      outcome (a file that cannot be restored among them, and one that the
#      run leaves wrong without failing: the check after the update finds
#      it); a second Setup; an unknown switch; Enter during the run;
#   4. /undo, interactive and quiet, with the stand-in Mendex.dll of the
#      driver test scripted to keep a changed file;
#   5. files in use, with the stand-in scripted to find a program holding
#      one: the box that names it, Try Again once it is free, Continue (a
#      restart finishes the update: not now), Cancel, /quiet; never a
#      restart (the prefix is shared).
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

setup_pid=""
base="fwtest\\gui-$$"
root="$WINEPREFIX/drive_c/fwtest/gui-$$"
medium="$root/Pixora Patch"
apps="$root/Program Files/Pixora"
kit="$apps/Imaging/Kit12" # the example's toolkit folder
w_kit="C:\\$base\\Program Files\\Pixora\\Imaging\\Kit12"

cleanup() {
    [ -n "$setup_pid" ] && kill "$setup_pid" 2>/dev/null
    [ -f "$medium/example-remove.reg" ] &&
        "$wine" regedit /S "$medium/example-remove.reg" </dev/null >/dev/null 2>&1
    rm -rf "$root"
}
fw_script_start cleanup

auto() { "$wine" "$bin/fwauto.exe" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
expect() { fw_expect "$@"; }
same_file() { cmp -s "$2" "$3" && fw_pass "$1" || fw_fail "$1"; }
gone() { [ ! -e "$2" ] && fw_pass "$1" || fw_fail "$1"; }
there() { [ -e "$2" ] && fw_pass "$1" || fw_fail "$1"; }
start_setup() {
    (cd "$medium" && exec "$wine" "C:\\$base\\Pixora Patch\\Setup.exe" </dev/null >/dev/null 2>&1) &
    setup_pid=$!
}
setup_exe="C:\\$base\\Pixora Patch\\Setup.exe"
run_out="$out/gui-run-$$.txt"
# start_run ARGS: Setup with ARGS through fwauto, which notes its exit code
# and every top-level window of its process; run_result waits for it. It
# starts in the medium's folder, or in run_from when that is set.
start_run() {
    rm -f "$run_out"
    (cd "${run_from:-$medium}" && auto run 60000 "$setup_exe" "$@" >"$run_out") &
    setup_pid=$!
}
# (not in a command substitution: only this shell can wait for the run)
run_result() {
    wait "$setup_pid" 2>/dev/null
    setup_pid=""
    result=$(cat "$run_out")
}
# exit_code DESCRIPTION CODE ARGS: an unattended run ends with CODE.
exit_code() {
    what=$1
    code=$2
    shift 2
    start_run "$@"
    run_result
    expect "$what: exit code $code" "$result" "exit $code"
}
# The probe runs on its own: give it up to 10 s to write its line.
wait_probe() {
    i=0
    while ! grep -q started "$medium/devprobe.log" 2>/dev/null && [ $i -lt 100 ]; do
        i=$((i + 1))
        sleep 0.1
    done
}
# A fresh example installation with the binaries on its medium.
fresh_install() {
    "$here/../../tools/example-install.sh" "$WINEPREFIX/drive_c" "$base" >/dev/null
    for f in Setup.exe Scoutex.dll Mendex.dll patchres.dll devprobe.exe fixwise.exe; do
        cp "$bin/$f" "$medium/"
    done
    "$wine" regedit /S "$medium/example.reg" </dev/null >/dev/null 2>&1
}
# plan_matches WHAT: fixwise plan, run in the medium's folder after a run,
# finds nothing to do, as the check after the run did.
plan_matches() {
    planned=$(cd "$medium" && "$wine" fixwise.exe plan </dev/null 2>/dev/null)
    code=$?
    expect "$1: the plan afterwards finds nothing to do" "$(printf '%s' "$planned" | tr -d '\r')" \
        "nothing to do: the installation matches"
    expect "$1: the plan afterwards exits with 0" "exit $code" "exit 0"
}
w_ocr="C:\\$base\\Program Files\\Pixora\\Imaging\\OcrEngine"
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

fresh_install

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
setup_ends && fw_pass "Setup ends after the closing message" || fw_fail "Setup still running"

same_file "wrong filter replaced" "$kit/PXFILTER.DLL" \
    "$medium/SOURCE/VEX/PXFILTER.DLL"
same_file "missing OCR bridge restored" "$kit/PXOCR.DLL" \
    "$medium/SOURCE/VEX/PXOCR.DLL"
same_file "application of the newest release replaced" "$apps/Scan30/PXSCAN.EXE" \
    "$medium/SOURCE/APP/PXSCAN.EXE"
expect "older release untouched" "$(cat "$apps/Scan20/PXSCAN.EXE")" "release 2.0"
gone "stray file deleted" "$kit/STRAY.TMP"
gone "old plug-in deleted" "$kit/OLDPLUG.DLL"
there "subdirectory of the toolkit kept" "$kit/Profiles/default.ini"
written=$(auto regdump HKLM 'Software\Orvantis\Pixora Scan\3.0')
expect "registry written" "$written" "PluginPath = \"$w_kit\""
expect "registry written: the OCR folder the run used" "$written" "OcrPath = \"$w_ocr\""
wait_probe
expect "hardware check started from Setup's directory, quoted" \
    "$(cat "$medium/devprobe.log" 2>/dev/null)" "started: \"C:\\$base\\Pixora Patch\\devprobe.exe\""
log=$(tr -d '\r' <"$root/Pixora Logs/OvUpdErr.log" 2>/dev/null)
expect "search's log block" "$log" ">Last Pixora App: Pixora Scan\\3.0"
expect "update's log block" "$log" ">Update Start....."
[ "$(printf '%s\n' "$log" | grep -c -- '---------------- Log Start')" = 2 ] &&
    fw_pass "two log blocks" || fw_fail "two log blocks"
plan_matches "the whole run"

# cancel_run HOW: ends a run through HOW (cancel, close or escape)
cancel_run() {
    echo "-- $1 during the run"
    rm -f "$medium/devprobe.log"
    start_run
    auto box "Pixora Update" OK 30000 >/dev/null
    auto wait "Pixora Update" 10000 >/dev/null
    auto "$1" "Pixora Update" >/dev/null
    auto gone "Pixora Update" 5000 && fw_pass "window closes" || fw_fail "window still open"
    run_result
    expect "Setup ends with exit code 1602" "$result" "exit 1602"
    case "$(auto box "*" none 500)" in
    "no message box"*) fw_pass "no message" ;;
    *) fw_fail "a message after $1" ;;
    esac
    gone "no hardware check" "$medium/devprobe.log"
}
cancel_run cancel
cancel_run close
cancel_run escape

echo "-- /quiet on the example installation, started by full path from System32"
fresh_install
rm -f "$medium/devprobe.log"
run_from="$WINEPREFIX/drive_c/windows/system32"
start_run /QUIET /log "C:\\$base\\quiet run.log"
run_result
run_from=""
expect "exit code 0" "$result" "exit 0"
expect "no window at any time" "$result" "windows 0"
same_file "application of the newest release replaced" "$apps/Scan30/PXSCAN.EXE" \
    "$medium/SOURCE/APP/PXSCAN.EXE"
wait_probe
there "hardware check started" "$medium/devprobe.log"
log=$(tr -d '\r' <"$root/quiet run.log" 2>/dev/null)
expect "log: command line" "$log" "command line: "
expect "log: mode" "$log" "mode: quiet"
expect "log: a step with its progress" "$log" "progress 100"
expect "log: the search result" "$log" "search result 0: Pixora Scan 3.0 in "
expect "log: the chosen installation" "$log" "chosen installation: Pixora Scan 3.0"
expect "log: the update result" "$log" "update result 0"
expect "log: the check after the update" "$log" "verify result 0"
expect "log: the outcome" "$log" "outcome: updated, exit code 0"
expect "log: the exit code" "$log" "exit code 0"
plan_matches "/quiet"

echo "-- /passive, with Enter during the wait"
start_run -passive
auto wait "Pixora Update" 10000 && fw_pass "progress window shown" || fw_fail "no progress window"
auto ok "Pixora Update" >/dev/null
sleep 0.3
auto wait "Pixora Update" 100 && fw_pass "Enter leaves the window open" || fw_fail "Enter closed it"
case "$(auto box "*" none 2500)" in
"no message box"*) fw_pass "no message box" ;;
*) fw_fail "a message box in passive mode" ;;
esac
run_result
expect "the run completes: exit code 0" "$result" "exit 0"
plan_matches "/passive"

echo "-- a second Setup"
start_run
auto box "Pixora Update" none 30000 >/dev/null
first_pid=$setup_pid
second=$(cd "$medium" && auto run 20000 "$setup_exe" /quiet)
expect "second one, quiet: exit code 1618" "$second" "exit 1618"
(cd "$medium" && auto run 20000 "$setup_exe" >"$run_out.2") &
second_pid=$!
expect "second one, interactive: the message" "$(auto box "Pixora Update Error" OK 20000)" \
    "already running"
wait "$second_pid"
expect "second one, interactive: exit code 1618" "$(cat "$run_out.2")" "exit 1618"
rm -f "$run_out.2"
auto box "Pixora Update" Cancel 10000 >/dev/null
setup_pid=$first_pid
run_result
expect "first one, not confirmed: exit code 1602" "$result" "exit 1602"

echo "-- Cancel at instants across the whole run"
# From right after the window appears to after the closing message: the run
# ends within 5 s, cancelled or (too late) with its own code; never a hang.
for delay in 0 0.1 0.3 0.5 0.8 1.1 1.4 1.7 2.0 2.5 last; do
    start_run
    auto box "Pixora Update" OK 30000 >/dev/null
    if [ "$delay" = last ]; then
        auto box "*" OK 30000 >/dev/null
    else
        auto wait "Pixora Update" 10000 >/dev/null
        sleep "$delay"
    fi
    auto cancel "Pixora Update" >/dev/null
    # Too late: the closing message is up (or comes) and is answered.
    auto box "*" OK 1000 >/dev/null
    i=0
    while kill -0 "$setup_pid" 2>/dev/null && [ $i -lt 50 ]; do
        i=$((i + 1))
        sleep 0.1
    done
    if kill -0 "$setup_pid" 2>/dev/null; then
        fw_fail "Cancel at $delay: Setup still running after 5 s"
        continue
    fi
    run_result
    case "$result" in
    *"exit 1602"* | *"exit 0"*) fw_pass "Cancel at $delay: ends ($(echo "$result" | grep "^exit"))" ;;
    *) fw_fail "Cancel at $delay: $result" ;;
    esac
done

echo "-- a relocated toolkit folder"
# The registry names a toolkit folder that is gone; the run finds the anchor
# in the installed one and works there (the OCR folder moving with it, so
# its engine gets a good copy there), and the check after the run looks
# there too.
cp -p "$apps/Imaging/OcrEngine/OCRENG.EXE" "$medium/SOURCE/VEX/OCRENG.EXE"
printf 'OCRENG.EXE=SOURCE\\VEX\\OCRENG.EXE\n' >>"$medium/Resolve.src"
printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Orvantis\\Pixora\\VEX\\1.2]\n"VEXDir"="%s"\n' \
    "$(printf '%s' "C:\\$base\\Program Files\\Pixora\\Moved\\Kit12" | sed 's/\\/\\\\/g')" \
    >"$root/moved.reg"
"$wine" regedit /S "$root/moved.reg" </dev/null >/dev/null 2>&1
start_run /log "C:\\$base\\moved.log"
auto box "Pixora Update" OK 30000 >/dev/null
closing=$(auto box "*" none 60000)
expect "relocated toolkit: the closing message says the update is done" "$closing" "is up to date"
auto box "*" OK 10000 >/dev/null
run_result
expect "relocated toolkit: exit code 0" "$result" "exit 0"
log=$(tr -d '\r' <"$root/moved.log" 2>/dev/null)
expect "relocated toolkit: the check after the run" "$log" "verify result 0"
same_file "relocated toolkit: the OCR engine restored beside the anchor" "$kit/OCRENG.EXE" \
    "$medium/SOURCE/VEX/OCRENG.EXE"
expect "relocated toolkit: the OCR folder written as the run used it" \
    "$(auto regdump HKLM 'Software\Orvantis\Pixora Scan\3.0')" "OcrPath = \"$w_kit\""
plan_matches "relocated toolkit"

echo "-- exit codes"
start_run /quiet /bogus /log "C:\\$base\\bad.log"
run_result
expect "unknown switch: exit code 1639" "$result" "exit 1639"
expect "unknown switch: usage in the log" "$(cat "$root/bad.log" 2>/dev/null)" "Usage: Setup"
auto hold "Pixora Scan" 4000 &
hold_pid=$!
sleep 1.5
exit_code "product's application running" 1618 /quiet
wait "$hold_pid"
mv "$medium/Mendex.dll" "$medium/Mendex.bak"
start_run /quiet /log:"C:\\$base\\failed.log"
run_result
expect "update library missing: exit code 1603" "$result" "exit 1603"
log=$(tr -d '\r' <"$root/failed.log" 2>/dev/null)
expect "log of a failed run: the step" "$log" "step: load Mendex.dll"
expect "log of a failed run: the outcome" "$log" "outcome: Mendex.dll or its export missing, exit code 1603"
mv "$medium/Mendex.bak" "$medium/Mendex.dll"
# The good copy of the missing OCR bridge is not on the medium: the run
# completes, that file cannot be restored.
fresh_install
start_run /quiet /log "C:\\$base"
run_result
expect "/log naming a folder: exit code 1622" "$result" "exit 1622"
expect "/log naming a folder: nothing changed" "$(cat "$apps/Scan30/PXSCAN.EXE")" "release 3.0.0"
start_run /log "C:\\$base"
expect "/log naming a folder, interactive: said so" "$(auto box "Pixora Update Error" OK 30000)" \
    "log file named on the command line cannot be written"
run_result
expect "/log naming a folder, interactive: exit code 1622" "$result" "exit 1622"
rm -f "$medium/SOURCE/VEX/PXOCR.DLL"
start_run /quiet /log "C:\\$base\\incomplete.log"
run_result
expect "a file that cannot be restored: exit code 1604" "$result" "exit 1604"
log=$(tr -d '\r' <"$root/incomplete.log" 2>/dev/null)
expect "log of an incomplete run: the update result" "$log" "update result -15"
same_file "the other files restored all the same" "$kit/PXFILTER.DLL" \
    "$medium/SOURCE/VEX/PXFILTER.DLL"
# The missing OCR bridge without its line in Resolve.src: the run cannot
# restore it and returns 0; the check after it finds the file.
fresh_install
sed -i '/^PXOCR\.DLL=/d' "$medium/Resolve.src"
start_run /quiet /log "C:\\$base\\mismatch.log"
run_result
expect "a file without a resolve line: exit code 1604" "$result" "exit 1604"
log=$(tr -d '\r' <"$root/mismatch.log" 2>/dev/null)
expect "log of a run that does not match: the update result" "$log" "update result 0"
expect "log of a run that does not match: the file" "$log" \
    "does not match: file $w_kit\\PXOCR.DLL: missing"
expect "log of a run that does not match: the outcome" "$log" \
    "outcome: the installation does not match, exit code 1604"
"$wine" regedit /S "$medium/example-remove.reg" </dev/null >/dev/null 2>&1
exit_code "no installed release" 1605 /quiet

echo "-- /undo with a stand-in Mendex.dll"
undo_medium="$root/Undo Medium"
mkdir -p "$undo_medium"
cp "$bin/Setup.exe" "$bin/patchres.dll" "$undo_medium/"
cp "$bin/ScriptedLibrary.dll" "$undo_medium/Mendex.dll"
cp "$bin/ScriptedLibrary.dll" "$undo_medium/Scoutex.dll"
printf '1\nput back file C:\\Scan\\PXSCAN.EXE\nkept file C:\\Kit\\PXOCR.DLL\n' \
    >"$undo_medium/undo.txt"
setup_exe="C:\\$base\\Undo Medium\\Setup.exe"
start_run /undo
expect "/undo: confirmation asked" "$(auto box "Pixora Update" OK 30000)" \
    "Undo the last update of the Pixora scanner software"
expect "/undo: closing message" "$(auto box "Pixora Update" OK 30000)" \
    "The last update was undone, but files changed since then were kept."
run_result
expect "/undo: exit code 1604" "$result" "exit 1604"
start_run /UNDO /quiet /log "C:\\$base\\undo.log"
run_result
expect "/undo /quiet: exit code 1604" "$result" "exit 1604"
expect "/undo /quiet: no window" "$result" "windows 0"
log=$(tr -d '\r' <"$root/undo.log" 2>/dev/null)
expect "/undo log: mode" "$log" "mode: quiet, undo"
expect "/undo log: the report" "$log" "undo: kept file C:\\Kit\\PXOCR.DLL"
expect "/undo log: the outcome" "$log" \
    "outcome: undone, files changed since the run were kept, exit code 1604"
calls=$(tr -d '\r' <"$undo_medium/calls.txt" 2>/dev/null)
expect "/undo: the newest kept run undone, within the installations found" "$calls" \
    "undoex <null>|options=0|"
case "$calls" in
*repair*) fw_fail "/undo updated" ;;
*) fw_pass "/undo does not update" ;;
esac
setup_exe="C:\\$base\\Pixora Patch\\Setup.exe"

echo "-- files in use, with a stand-in Mendex.dll"
busy_medium="$root/Busy Medium"
mkdir -p "$busy_medium"
cp "$bin/Setup.exe" "$bin/patchres.dll" "$bin/devprobe.exe" "$busy_medium/"
cp "$bin/ScriptedLibrary.dll" "$busy_medium/Mendex.dll"
cp "$bin/ScriptedLibrary.dll" "$busy_medium/Scoutex.dll"
printf '0|Pixora Scan|3.0|1|1\n' >"$busy_medium/search.txt"
printf '0\n' >"$busy_medium/repair.txt"
busy_line=$(printf 'busy\tC:\\Kit\\PXOCR.DLL\tPXSCAN.EXE (pid 42)')
restart_line=$(printf 'restart\tC:\\Kit\\PXOCR.DLL\tPXSCAN.EXE (pid 42)')
setup_exe="C:\\$base\\Busy Medium\\Setup.exe"
# busy_run SCRIPT ARGS: Setup with ARGS, the stand-in scripted by SCRIPT
# (repairex.txt), its calls noted afresh.
busy_run() {
    printf '%s\n' "$1" >"$busy_medium/repairex.txt"
    rm -f "$busy_medium/calls.txt"
    shift
    start_run "$@"
}
busy_calls() { tr -d '\r' <"$busy_medium/calls.txt" 2>/dev/null; }

busy_run "$(printf 'find 1\n%s\nfind 0\nrun 0 1 0 0 0' "$busy_line")" /log "C:\\$base\\busy.log"
auto box "Pixora Update" OK 30000 >/dev/null
box=$(auto box "Pixora Update" none 30000)
expect "files in use: the box names the program" "$box" "PXSCAN.EXE (pid 42)"
expect "files in use: the box says what to do" "$box" "choose Try Again"
import -window root "$out/gui-in-use.png" 2>/dev/null
auto box "Pixora Update" TryAgain 10000 >/dev/null
expect "Try Again, the file is free: closing message" "$(auto box "Pixora Update" OK 30000)" \
    "is up to date"
run_result
expect "Try Again, the file is free: exit code 0" "$result" "exit 0"
expect "Try Again: looked twice, then updated" "$(busy_calls | grep -c '^repairex options=1|')" "2"
log=$(tr -d '\r' <"$root/busy.log" 2>/dev/null)
expect "files in use: the run log names the file and the program" "$log" \
    "in use: C:\\Kit\\PXOCR.DLL (in use by PXSCAN.EXE (pid 42))"

busy_run "$(printf 'find 1\n%s\nrun 0 0 0 1 0\n%s' "$busy_line" "$restart_line")" \
    /log "C:\\$base\\continue.log"
auto box "Pixora Update" OK 30000 >/dev/null
auto box "Pixora Update" Continue 30000 >/dev/null
closing=$(auto box "Pixora Update" none 30000)
expect "Continue: the closing message says a restart finishes the update" "$closing" \
    "they are replaced when the computer restarts"
expect "Continue: the closing message asks" "$closing" "Restart the computer now?"
auto box "Pixora Update" No 10000 >/dev/null
run_result
expect "Continue, no restart now: exit code 3010" "$result" "exit 3010"
log=$(tr -d '\r' <"$root/continue.log" 2>/dev/null)
expect "Continue: the run log lists the file left for the restart" "$log" \
    "at restart: C:\\Kit\\PXOCR.DLL (in use by PXSCAN.EXE (pid 42))"
expect "Continue: the outcome" "$log" "outcome: updated, a restart finishes it, exit code 3010"

busy_run "$(printf 'find 1\n%s\nrun 0 1 0 0 0' "$busy_line")"
auto box "Pixora Update" OK 30000 >/dev/null
auto box "Pixora Update" Cancel 30000 >/dev/null
run_result
expect "Cancel in the box of files in use: exit code 1602" "$result" "exit 1602"
case "$(busy_calls)" in
*"repairex options=2"*) fw_fail "Cancel in the box of files in use: the update ran" ;;
*) fw_pass "Cancel in the box of files in use: nothing updated" ;;
esac

busy_run "$(printf 'find 1\n%s\nrun 0 0 0 1 0\n%s' "$busy_line" "$restart_line")" /quiet
run_result
expect "/quiet with a file in use: exit code 3010" "$result" "exit 3010"
expect "/quiet with a file in use: no window" "$result" "windows 0"
start_run /norestart /quiet /forcerestart /log "C:\\$base\\contradict.log"
run_result
expect "/norestart with /forcerestart: exit code 1639" "$result" "exit 1639"
expect "/norestart with /forcerestart: the run log says why" "$(cat "$root/contradict.log" 2>/dev/null)" \
    "switch contradicts an earlier one: /forcerestart"
setup_exe="C:\\$base\\Pixora Patch\\Setup.exe"

echo "-- a program file in use, with the real libraries: finished by the restart"
fresh_install
cp "$bin/fixwise.exe" "$medium/"
filter="$kit/PXFILTER.DLL"
lock_out="$out/gui-lock-$$.txt"
"$wine" "$bin/fwauto.exe" lock 60000 "$w_kit\\PXFILTER.DLL" \
    </dev/null >"$lock_out" 2>/dev/null &
lock_pid=$!
i=0
while ! grep -q locked "$lock_out" 2>/dev/null && [ $i -lt 100 ]; do
    i=$((i + 1))
    sleep 0.1
done
exit_code "/quiet with a program file held open" 3010 /quiet /log "C:\\$base\\held.log"
expect "held file: the old one stays until the restart" "$(cat "$filter" 2>/dev/null)" "build 3.0.0"
expect "held file: the run log names it for the restart" "$(tr -d '\r' <"$root/held.log" 2>/dev/null)" \
    "at restart: $w_kit\\PXFILTER.DLL (in use by another program)"
planned=$(cd "$medium" && "$wine" fixwise.exe plan </dev/null 2>/dev/null | tr -d '\r'; echo "exit $?")
expect "held file: the plan shows the replacement waiting" "$planned" "replaced at the next restart"
kill "$lock_pid" 2>/dev/null
wait "$lock_pid" 2>/dev/null
"$wine" wineboot -r </dev/null >/dev/null 2>&1
same_file "held file: replaced by the restart, byte for byte" "$filter" "$medium/SOURCE/VEX/PXFILTER.DLL"
(cd "$medium" && "$wine" fixwise.exe plan </dev/null >/dev/null 2>&1)
expect "held file: after the restart the plan finds nothing to do" "exit $?" "exit 0"
rm -f "$lock_out"

echo "screenshots: $out/gui-progress.png $out/gui-about.png $out/gui-closing.png $out/gui-in-use.png"
exit $fw_status
