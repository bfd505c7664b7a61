#!/usr/bin/env bash
# End to end: run where nobody can see it (a new window station, as for a
# deployment job), Corvane ends by itself with its exit code, asking nothing
# and starting nothing after the third attempt. It initialises the common
# controls at start-up.
#
#   e2e_hidden_station.sh ARCH BUILD_DIR SOURCE_DIR
set -uo pipefail
arch=$1 build=$(cd "$2" && pwd) source=$(cd "$3" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2e_lib.sh"

e2e_setup "$arch" hidden-station
# A question asked anyway would end at the time limit (exit code 124).
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
