#!/usr/bin/env bash
# End to end: Corvane run where nobody can see it, as by a deployment tool:
# on a desktop of a new window station, which is not visible. Every attempt
# fails, and Corvane must end by itself, with its exit code, without asking
# its final question or starting anything after it. The run also shows the
# common controls initialised at start-up.
#
#   e2e_hidden_station.sh ARCH BUILD_DIR SOURCE_DIR
set -uo pipefail
arch=$1 build=$(cd "$2" && pwd) source=$(cd "$3" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2e_lib.sh"

e2e_setup "$arch" hidden-station
# Were the question asked anyway, nobody would answer it: the time limit
# ends the run, with the exit code 124.
timeout 240 xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    cd "$1"
    WINEDEBUG=+debugstr,+process,+commctrl timeout 150 wine "$2" /hidden-station -- Corvane.exe \
        > corvane.stdout 2> trace.log
    echo $? > corvane.rc
    timeout 30 wineserver -w
' _ "$e2e_out" "$(windows_path "$build/tests/wine/envrun.exe")"

expect_exit_code 1
expect_count "sysrestore_create" 3 "restore-point attempts"
expect_count "no visible desktop, the final message is skipped (Cancel)" 1 \
    "trace lines of the skipped question"
expect_count "commctrl:InitCommonControlsEx 0x4000$" 1 "initialisations of the standard controls"
if started_by_corvane | grep -q -i -e 'rstrui' -e 'shutdown'; then
    echo "FAIL: Corvane started something after its final message:"
    started_by_corvane | grep -i -e 'rstrui' -e 'shutdown' | sed 's/^/        /'
    e2e_fail=1
fi
e2e_finish
