#!/bin/sh
# Runs every test: the native unit tests (with AddressSanitizer and
# UndefinedBehaviorSanitizer) and the Windows tests under Wine, on the 32-bit
# build (the shipped product, Wine's 32-bit loader) and on the 64-bit build.
# Sets up the machine first when needed.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
. "$top/tools/fwenv.sh"
"$top/tools/install-deps.sh"

for preset in native win64 win32; do
    echo "== build $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done

# Window tests need a display: use a private Xvfb unless one is given.
xvfb_pid=""
if [ -z "$DISPLAY" ] || [ -n "$CI" ]; then
    fw_start_xvfb 91
    xvfb_pid=$fw_xvfb_pid
fi
trap '[ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true' EXIT

status=0
echo "== test native"
ctest --preset native || status=1
if fw_runs_32bit; then
    echo "== test win32 (Wine, 32-bit: the shipped build)"
    ctest --preset win32 || status=1
else
    # Only what needs no 32-bit program to run: the deliverables' headers.
    echo "== test win32: NOT RUN under Wine: this machine cannot start 32-bit x86 programs"
    echo "   (/usr/lib/wine/wine: $(/usr/lib/wine/wine --version 2>&1 | head -n 1))"
    ctest --preset win32 -L headers || status=1
fi
echo "== test win64 (Wine, 64-bit)"
ctest --preset win64 || status=1
exit $status
