#!/usr/bin/env bash
# End to end: the real Corvane.exe under Wine on a virtual display. Wine's
# WMI accepts CreateRestorePoint but returns no value, so every attempt
# fails and the final message box appears; it is answered from outside.
#
#   e2e_cancel.sh ARCH BUILD_DIR SOURCE_DIR
set -uo pipefail
arch=$1 build=$(cd "$2" && pwd) source=$(cd "$3" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2e_lib.sh"

e2e_setup "$arch" cancel
[ "$arch" = win64 ] && prepare_frequency
e2e_run 2 120
[ "$arch" = win64 ] && expect_frequency_kept

expect_line "status.caption=Brindlemoor - Corvane"
expect_line "status.label=Creating System Restore Point..."
expect_line "box.title=Tessaline"
expect_line 'box.text=Error Creating Restore Point\r\n-2147217407 - CreateRestorePoint returned no value\r\nResult:  1\r\nCheck System Restore Service State!\r\nRepair performed, but you may need to restart the PC.\r\n\r\nClick YES to restart now or NO to start the System Restore interface.'
expect_exit_code 1
expect_count "sysrestore_create" 3 "restore-point attempts"
# The quick repair: six hidden commands, each the native interpreter (on
# 64-bit Windows the 64-bit one from System32, never SysWOW64's).
expect_started "$here/expected/quick-repair.txt" 6
if [ "$(loaded_count 'syswow64\cmd.exe')" != 0 ] || [ "$(loaded_count 'system32\cmd.exe')" -lt 6 ]; then
    echo "FAIL: the quick repair did not run the native cmd.exe"
    e2e_fail=1
fi
expect_no_handle_growth
e2e_finish
