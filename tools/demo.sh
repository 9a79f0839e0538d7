#!/bin/sh
# The product's main job on a built-in example installation.
#
# Builds everything, lays an example installation into a fresh Wine prefix of
# its own (build/<build>/demo/prefix, no Z: drive), runs Setup.exe from the
# patch medium under Xvfb (or the user's display), answers the confirmation
# as a user would, and prints what the user saw, what changed on disk and in
# the registry, the diagnostic log and the path of a screenshot. It runs the
# 32-bit build, the one that ships; on a machine that cannot start 32-bit
# programs, the 64-bit build (and says so).
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
. "$top/tools/fwenv.sh"
"$top/tools/install-deps.sh"
for preset in win64 win32; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" >/dev/null
done

build=win32
if ! fw_runs_32bit; then
    build=win64
    echo "This machine cannot start 32-bit x86 programs: the demonstration runs the 64-bit build."
fi
bin="$top/build/$build/bin"
demo="$top/build/$build/demo"
prefix="$demo/prefix"
wine=$(sed -n 's/^FIXWISE_WINE:FILEPATH=//p' "$top/build/$build/CMakeCache.txt")
fw_wine_env "$prefix"
# The example's update script is written for US English systems.
export LC_ALL=C.UTF-8

xvfb_pid=""
server_up=""
setup_pid=""
cleanup() {
    [ -n "$setup_pid" ] && kill "$setup_pid" 2>/dev/null || true
    [ -n "$server_up" ] && wineserver -k 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP PIPE

# A fresh prefix of our own, with its own Wine server.
if [ -d "$demo" ]; then
    wineserver -k 2>/dev/null || true
    rm -rf "$demo"
fi
mkdir -p "$demo"
FIXWISE_WINE=/usr/lib/wine/wine64 "$top/tools/wine-prefix.sh" "$prefix" "$bin"
wineserver -p
server_up=1

# The user's display when there is one, else a private Xvfb.
if [ -z "$DISPLAY" ] || ! xdpyinfo >/dev/null 2>&1; then
    fw_start_xvfb
    xvfb_pid=$fw_xvfb_pid
fi

auto() { "$wine" "$bin/fwauto.exe" "$@" </dev/null 2>/dev/null | tr -d '\r'; }

# The example installation and the patch medium C:\Pixora Patch.
"$top/tools/example-install.sh" "$prefix/drive_c" "" >/dev/null
medium="$prefix/drive_c/Pixora Patch"
for f in Setup.exe Scoutex.dll Mendex.dll patchres.dll devprobe.exe fixwise.exe; do
    cp "$bin/$f" "$medium/"
done
# fixwise plan in the medium's folder, as support staff run it.
plan() {
    (cd "$medium" && "$wine" 'C:\Pixora Patch\fixwise.exe' plan </dev/null 2>&1 | tr -d '\r' |
        sed 's/^/  /') || true
}
"$wine" regedit /S "$medium/example.reg" </dev/null >/dev/null 2>&1

# Snapshots of the installation on disk and of its registry keys.
snapshot_files() {
    (cd "$prefix/drive_c" && find "Program Files/Pixora" -type f -printf '%p|%s bytes, %TY-%Tm-%Td %TH:%TM\n' |
        sed 's|^|C:/|; s|/|\\|g' | sort)
}
snapshot_registry() {
    { auto regdump HKLM 'Software\Orvantis'; auto regdump HKCU 'Software\Orvantis'; } |
        awk '/^\[/ { key = substr($0, 2, length($0) - 2); next }
             { sub(/^  /, ""); print key "\\" $0 }' | sort
}
# compare BEFORE AFTER: lines "name|value" or "name = value"
compare() {
    awk -v sep="$3" '
        FNR == NR { i = index($0, sep); before[substr($0, 1, i - 1)] = substr($0, i + length(sep)); next }
        { i = index($0, sep); k = substr($0, 1, i - 1); v = substr($0, i + length(sep))
          if (!(k in before)) print "  added    " k "  (" v ")"
          else if (before[k] != v) print "  changed  " k "  (" before[k] "  ->  " v ")"
          delete before[k] }
        END { for (k in before) print "  removed  " k "  (" before[k] ")" }' "$1" "$2" | sort -k2
}
snapshot_files >"$demo/files-before.txt"
snapshot_registry >"$demo/registry-before.txt"

echo "== What a run will do (fixwise plan, before Setup):"
plan
# The plan's own search wrote to the diagnostic log: start it afresh.
rm -f "$prefix/drive_c/Pixora Logs/OvUpdErr.log"
echo

echo "== Running C:\\Pixora Patch\\Setup.exe (display $DISPLAY)"
(cd "$medium" && exec "$wine" 'C:\Pixora Patch\Setup.exe' </dev/null >/dev/null 2>&1) &
setup_pid=$!

echo
echo "== The user was asked (and answered OK):"
auto box "Pixora Update" OK 30000 | sed 's/^/  /'
auto wait "Pixora Update" 10000 >/dev/null || true
sleep 0.8
import -window root "$demo/progress-window.png" 2>/dev/null || true

echo
echo "== The message the user saw at the end:"
auto box "*" none 30000 | sed 's/^/  /'
import -window root "$demo/setup-window.png" 2>/dev/null || true
auto box "*" OK 10000 >/dev/null
wait "$setup_pid" || true
setup_pid=""

snapshot_files >"$demo/files-after.txt"
snapshot_registry >"$demo/registry-after.txt"

echo
echo "== Changed on disk (C:\\Program Files\\Pixora):"
compare "$demo/files-before.txt" "$demo/files-after.txt" "|"
echo
echo "== Changed in the registry:"
compare "$demo/registry-before.txt" "$demo/registry-after.txt" " = "
echo
echo "== Hardware check:"
if [ -f "$medium/devprobe.log" ]; then
    tr -d '\r' <"$medium/devprobe.log" | sed 's/^/  devprobe.exe /'
else
    echo "  devprobe.exe was not started"
fi
echo
echo "== Diagnostic log C:\\Pixora Logs\\OvUpdErr.log:"
if [ -f "$prefix/drive_c/Pixora Logs/OvUpdErr.log" ]; then
    tr -d '\r' <"$prefix/drive_c/Pixora Logs/OvUpdErr.log"
else
    echo "  (no log written)"
fi
echo
echo "== Verification (fixwise plan, after Setup):"
plan
echo
echo "== Screenshot of the progress window during the run:"
echo "  $demo/progress-window.png"
echo "  (with the closing message: $demo/setup-window.png)"
