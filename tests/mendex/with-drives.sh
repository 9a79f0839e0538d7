#!/bin/sh
# Runs a test program with drives E: and F: of the Wine prefix mapped to two
# empty folders outside the prefix (so a walk of C: never reaches them), G:
# mapped as a removable drive and H: as a network drive, and removes the
# mappings and the folders afterwards, whatever the outcome. The mount
# manager reads drive types when it starts: the server is started again
# after the types are set and after they are removed.
#   with-drives.sh PREFIX WORKDIR WINE-RUN [ARGS...]
set -e
prefix=$1
work=$2
shift 2
runner=$1
mkdir -p "$work"
root=$(mktemp -d "$work/drives.XXXXXX")
root=$(cd "$root" && pwd)
drives='HKLM\Software\Wine\Drives'
restart() {
    "$runner" --stop >/dev/null 2>&1 || true
    "$runner" --start >/dev/null 2>&1
}
unmap() {
    "$runner" reg delete "$drives" /v g: /f /reg:64 >/dev/null 2>&1 || true
    "$runner" reg delete "$drives" /v h: /f /reg:64 >/dev/null 2>&1 || true
    rm -f "$prefix/dosdevices/e:" "$prefix/dosdevices/f:" "$prefix/dosdevices/g:" \
        "$prefix/dosdevices/h:"
    restart || true
    rm -rf "$root"
}
trap unmap EXIT INT TERM
for d in e f g h; do
    mkdir "$root/$d"
    ln -sfn "$root/$d" "$prefix/dosdevices/$d:"
done
"$runner" reg add "$drives" /v g: /d floppy /f /reg:64 >/dev/null
"$runner" reg add "$drives" /v h: /d network /f /reg:64 >/dev/null
restart
status=0
"$@" || status=$?
exit $status
