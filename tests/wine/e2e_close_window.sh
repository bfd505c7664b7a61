#!/usr/bin/env bash
# End to end: the user closes the status window in the middle of the full
# repair. The workflow goes on to its end, and the final message still
# appears.
#
#   e2e_close_window.sh ARCH BUILD_DIR SOURCE_DIR
set -uo pipefail
arch=$1 build=$(cd "$2" && pwd) source=$(cd "$3" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2e_lib.sh"

e2e_setup "$arch" close-window
e2e_observer_options=close-during-full-repair
e2e_run 2 120

expect_line "status.closed=yes"
expect_line "status.caption="
expect_line "box.title=Tessaline"
expect_exit_code 1
# The repair went on after the window was closed, to its last command.
if ! started_by_corvane | tail -n 1 | grep -q -F 'cmd.exe /c gpupdate /force'; then
    echo "FAIL: the full repair did not run to its end"
    e2e_fail=1
fi
expect_count "sysrestore_create" 3 "restore-point attempts"
e2e_finish
