#!/usr/bin/env bash
# Installs what building and testing Corvane needs, when it is missing:
# CMake and Ninja, the native compiler and GoogleTest, MinGW-w64 for
# 32-bit Windows and for the 64-bit build that stands in where Linux runs no
# 32-bit programs, Wine (with its 32-bit half, installed everywhere, used
# where it runs), a virtual X display, and
# osslsigncode and OpenSSL for signing releases.
set -euo pipefail

missing=()
need() {  # COMMAND-OR-PATH PACKAGE
    if [[ $1 == /* ]]; then [ -e "$1" ] || missing+=("$2"); else command -v "$1" >/dev/null || missing+=("$2"); fi
}
need cmake cmake
need ninja ninja-build
need g++ g++
need /usr/src/googletest/CMakeLists.txt googletest
need i686-w64-mingw32-g++-posix g++-mingw-w64-i686
need x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64
need xvfb-run xvfb
need /usr/bin/convert imagemagick
need osslsigncode osslsigncode
need openssl openssl
need wine wine
need /usr/lib/wine/wine64 wine64
[ -e /usr/lib/wine/wineserver32 ] || missing+=("wine32:i386")

if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" != 0 ]; then
        echo "Corvane needs: ${missing[*]}; run this script as root to install them." >&2
        exit 1
    fi
    echo "Installing: ${missing[*]}"
    dpkg --add-architecture i386
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
fi
