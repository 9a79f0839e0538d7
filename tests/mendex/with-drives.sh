#!/bin/sh
# Runs a test program with drives E: and F: of the Wine prefix mapped to two
# empty folders outside the prefix (so a walk of C: never reaches them), and
# removes the mappings and the folders afterwards, whatever the outcome.
#   with-drives.sh PREFIX WORKDIR COMMAND [ARGS...]
set -e
prefix=$1
work=$2
shift 2
mkdir -p "$work"
root=$(mktemp -d "$work/drives.XXXXXX")
unmap() {
    rm -f "$prefix/dosdevices/e:" "$prefix/dosdevices/f:"
    rm -rf "$root"
}
trap unmap EXIT INT TERM
mkdir "$root/e" "$root/f"
ln -sfn "$root/e" "$prefix/dosdevices/e:"
ln -sfn "$root/f" "$prefix/dosdevices/f:"
status=0
"$@" || status=$?
exit $status
