#!/bin/sh
# The product's main job on a built-in example installation.
# Builds every deliverable of both targets and says what was built.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
"$top/tools/install-deps.sh"
for preset in win64 win32; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" >/dev/null
done
echo "Built:"
for preset in win32 win64; do
    for f in Setup.exe Scoutex.dll Mendex.dll patchres.dll devprobe.exe; do
        [ -f "build/$preset/bin/$f" ] && echo "  build/$preset/bin/$f"
    done
done
exit 0
