#!/bin/sh
# Installs what building and testing need on a Debian machine, when missing.
# Safe to run again: it installs nothing that is already there.
# The shipped build is 32-bit: its tests run under Debian's 32-bit Wine
# (wine32:i386), which needs the i386 architecture.
set -e
packages="mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 wine32:i386 xvfb
imagemagick cmake ninja-build googletest g++ clang nlohmann-json3-dev osslsigncode libssl-dev openssl"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
added_arch=""
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "Adding the i386 architecture"
    $sudo dpkg --add-architecture i386
    added_arch=1
fi
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ] || [ -n "$added_arch" ]; then
    if [ -n "$missing" ]; then echo "Installing:$missing"; fi
    $sudo apt-get update -qq
    if [ -n "$missing" ]; then
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing >/dev/null
    fi
fi
