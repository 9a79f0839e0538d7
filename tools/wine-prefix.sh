#!/bin/sh
# Makes a Wine prefix for tests when it is missing, and lays its drives:
# no Z: (it maps to /), B: for the binaries folder. The prefix is a 64-bit
# Windows with its 32-bit part (SysWOW64, the 32-bit registry view), so it
# runs the 64-bit and the 32-bit builds alike; FIXWISE_WINE names the 64-bit
# loader.
#   wine-prefix.sh PREFIX BINDIR
set -e
prefix=$1
bindir=$2
. "$(dirname "$0")/fwenv.sh"
fw_wine_env "$prefix"
wine=${FIXWISE_WINE:-/usr/lib/wine/wine64}

# A prefix made before the 32-bit Wine was installed has no 32-bit part:
# made again.
if [ -x /usr/lib/wine/wine ] && [ ! -d "$prefix/drive_c/windows/syswow64" ]; then
    rm -f "$prefix/.fixwise-ready"
fi
if [ ! -f "$prefix/.fixwise-ready" ]; then
    rm -rf "$prefix"
    mkdir -p "$prefix"
    "$wine" wineboot -i >/dev/null 2>&1
    wineserver -w
    # Without a window manager, managed and decorated windows cost ~2 s to close.
    "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
    wineserver -w
    touch "$prefix/.fixwise-ready"
fi
rm -f "$prefix/dosdevices/z:"
# The user profile's folders link to the home directory; make them plain
# folders, so that a walk of C: stays inside the prefix.
find "$prefix/drive_c" -type l | while read -r link; do
    rm -f "$link"
    mkdir -p "$link"
done
mkdir -p "$bindir"
ln -sfn "$bindir" "$prefix/dosdevices/b:"
# Drive A: (also outside the searched range) holds the Linux tools that tests
# start to make links from the Linux side, which Wine follows, and to rename
# folders that a Windows program holds open.
mkdir -p "$prefix/unix-tools"
ln -sfn /bin/ln "$prefix/unix-tools/ln"
ln -sfn /bin/rm "$prefix/unix-tools/rm"
ln -sfn /bin/mv "$prefix/unix-tools/mv"
ln -sfn "$prefix/unix-tools" "$prefix/dosdevices/a:"
