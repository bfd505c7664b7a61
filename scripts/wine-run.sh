#!/usr/bin/env bash
# Runs a Windows test program under Wine in the test prefix of ARCH, on a
# virtual display, with a time limit.
#   wine-run.sh ARCH BUILD_DIR PROGRAM [ARGS...]
set -uo pipefail
arch=$1 build=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"
corvane_need_wine || exit 1
export WINEPREFIX
WINEPREFIX=$("$here/wine-prefix.sh" "$arch" "$build/wine/$arch") || exit 1
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Each prefix looks for a free display from its own number up (see e2e_lib.sh).
timeout 300 xvfb-run -a -n "$([ "$arch" = win64 ] && echo 150 || echo 100)" -s "-screen 0 1024x768x24" wine "$@"
rc=$?
timeout 30 wineserver -w
exit $rc
