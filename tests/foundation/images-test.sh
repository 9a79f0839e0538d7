#!/bin/sh
# The deliverables as Windows sees them, read from their headers (no Wine):
# built for the build's machine, importing system DLLs only (the compiler's
# runtime is inside: no libgcc, libstdc++ or winpthread DLL), and exporting
# exactly their undecorated names - on the 32-bit build too, where a
# decorated name (_IsOVPixoraSWInstalled@4) would not be found by Setup.
#   images-test.sh OBJDUMP BIN_DIR FORMAT      (FORMAT: pei-i386 or pei-x86-64)
set -u
objdump=$1
bin=$2
format=$3
. "$(dirname "$0")/../../tools/fwenv.sh"
system_dlls=" advapi32.dll bcrypt.dll comctl32.dll crypt32.dll gdi32.dll imagehlp.dll kernel32.dll msvcrt.dll shell32.dll user32.dll wintrust.dll "

# check FILE EXPORTS...: the image's format, imports and exact exports.
check() {
    file=$1
    shift
    dump=$("$objdump" -p "$bin/$file" 2>&1)
    case "$dump" in
    *"file format $format"*) fw_pass "$file is $format" ;;
    *) fw_fail "$file is not $format: $(printf '%s\n' "$dump" | grep -m1 'file format')" ;;
    esac
    for dll in $(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z'); do
        case "$system_dlls" in
        *" $dll "*) ;;
        *) fw_fail "$file imports $dll, which is no system DLL" ;;
        esac
    done
    # The name table of the export directory: "[   0] Name" lines after it.
    exports=$(printf '%s\n' "$dump" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
        sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort | tr '\n' ' ')
    wanted=$(printf '%s\n' "$@" | sed '/^$/d' | sort | tr '\n' ' ')
    [ "$exports" = "$wanted" ] && fw_pass "$file exports exactly: ${wanted:-nothing}" ||
        fw_fail "$file exports \"$exports\", wanted \"$wanted\""
}

check Setup.exe
check devprobe.exe
check patchres.dll
check fixwise.exe
check Scoutex.dll IsOVPixoraSWInstalled FindOVPixoraAppInstalled FindOVVEXInstalled FindOVPxoraSWPath
check Mendex.dll RepairPixoraApp RepairPixoraAppEx UndoPixoraRun UndoPixoraRunEx VerifyPixoraApp
exit $fw_status
