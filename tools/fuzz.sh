#!/bin/sh
# Runs each libFuzzer target of the text handling for a while (default 180 s
# each) on its seed corpus. New inputs go to build/fuzz/corpus/<target>, so the
# seeds in the repository stay as they are. Crashes are written to the
# current directory as crash-*.
#   sh tools/fuzz.sh [SECONDS]
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
"$top/tools/install-deps.sh"
seconds=${1:-180}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
run() {
    target=$1 binary=$2 seeds=$3
    mkdir -p "build/fuzz/corpus/$target"
    echo "== $target ($seconds s)"
    "$binary" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
        "build/fuzz/corpus/$target" "$seeds"
}
run update_script build/fuzz/tests/mendex/fuzz_update_script tests/mendex/corpus/update_script
run expand_macro build/fuzz/tests/mendex/fuzz_expand_macro tests/mendex/corpus/expand_macro
run libdata build/fuzz/tests/scoutex/libdata_fuzz tests/scoutex/corpus/libdata
