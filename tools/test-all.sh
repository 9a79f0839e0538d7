#!/bin/sh
# Runs every test: the native unit tests (with AddressSanitizer and
# UndefinedBehaviorSanitizer) and the Windows tests under Wine, and checks
# that the 32-bit product builds. Sets up the machine first when needed.
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
echo "== test win64 (Wine)"
ctest --preset win64 || status=1
exit $status
