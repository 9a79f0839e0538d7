#!/bin/sh
# Installs what building and testing need on a Debian machine, when missing.
# Safe to run again: it installs nothing that is already there.
set -e
packages="mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 xvfb imagemagick
cmake ninja-build googletest g++ clang nlohmann-json3-dev"
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "Installing:$missing"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing >/dev/null
fi
