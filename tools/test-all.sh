#!/bin/sh
# Runs every test: the native unit tests (with AddressSanitizer and
# UndefinedBehaviorSanitizer) and the Windows tests under Wine, and checks
# that the 32-bit product builds. Sets up the machine first when needed.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
"$top/tools/install-deps.sh"

for preset in native win64 win32; do
    echo "== build $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done

# Window tests need a display: use a private Xvfb unless one is given.
xvfb_pid=""
if [ -z "$DISPLAY" ] || [ -n "$CI" ]; then
    for n in 91 92 93 94 95 96 97 98 99; do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }
    done
    Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY="$display"
    sleep 1
fi
trap '[ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true' EXIT

status=0
echo "== test native"
ctest --preset native || status=1
echo "== test win64 (Wine)"
ctest --preset win64 || status=1
exit $status
