#!/bin/sh
# Benchmark of the update engine under Wine: builds an installation of N
# program files (default 1000 and 10000) with a matching script and resolve
# list, and prints the run's times against bare loops of FindFirstFileA and
# GetFileAttributesExA (every file correct) and of CopyFileA and the safe
# restore (a copy to a fresh name, flushed, moved over the target with
# write-through; every file wrong). Prints figures only.
#   sh tools/bench.sh [N...]
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
"$top/tools/install-deps.sh"
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target mendex_bench
[ $# -gt 0 ] || set -- 1000 10000
build/win64/wine-run.sh --start
trap 'build/win64/wine-run.sh --stop' EXIT
build/win64/wine-run.sh "$top/build/win64/bin/mendex_bench.exe" "$@"
