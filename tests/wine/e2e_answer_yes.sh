#!/usr/bin/env bash
# End to end: answering Yes asks Windows to restart. Wine carries the
# request out on its own prefix (it ends the prefix's programs), which this
# test expects; the prefix is started afresh by the next test.
#
#   e2e_answer_yes.sh ARCH BUILD_DIR SOURCE_DIR
set -uo pipefail
arch=$1 build=$(cd "$2" && pwd) source=$(cd "$3" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2e_lib.sh"

e2e_setup "$arch" answer-yes
e2e_run 6 120

expect_line "box.title=Tessaline"
# Wine carries out ExitWindowsEx by starting wineboot from the caller.
if ! started_by_corvane | tail -n 1 | grep -q -i '\\wineboot.exe'; then
    echo "FAIL: the restart was not requested from Windows"
    e2e_fail=1
fi
# Windows accepted the restart, so the command-line fallback never ran.
if started_by_corvane | grep -q -i 'shutdown.exe\|wpeutil.exe'; then
    echo "FAIL: the fallback started although Windows accepted the restart"
    e2e_fail=1
fi
e2e_finish
