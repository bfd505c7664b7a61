#!/usr/bin/env bash
# Creates (once) a Wine prefix for Corvane's tests and prints its path.
#   scripts/wine-prefix.sh win32|win64 DIR
# The prefix gets a virtual desktop, so windows have real frames in
# screenshots, and no Mono or Gecko prompts.
set -euo pipefail
. "$(dirname "$0")/wine-env.sh"
arch=$1
prefix=$2
if [ "$arch" = win32 ] && [ "$corvane_wine_bits" = 64 ]; then
  echo "The win32 prefix needs Wine's 32-bit half, which cannot run: $corvane_wine_why." >&2
  exit 1
fi
if [ ! -f "$prefix/.corvane-ready" ]; then
  rm -rf "$prefix"
  mkdir -p "$(dirname "$prefix")"
  export WINEPREFIX="$prefix" WINEARCH="$arch" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  timeout 300 wineboot --init >/dev/null 2>&1
  timeout 120 wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  timeout 120 wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
  timeout 120 wineserver -w
  touch "$prefix/.corvane-ready"
fi
echo "$prefix"
