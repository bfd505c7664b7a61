#!/usr/bin/env bash
# End to end: a cmd.exe and a rundll32.exe planted beside Corvane.exe, which
# is also the current directory (a download folder). Windows' search would
# find them first; Corvane runs its repair commands from the system
# directory, so neither ever runs.
#
#   e2e_planted_cmd.sh ARCH BUILD_DIR SOURCE_DIR
set -uo pipefail
arch=$1 build=$(cd "$2" && pwd) source=$(cd "$3" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2e_lib.sh"

e2e_setup "$arch" planted-cmd
for program in cmd.exe rundll32.exe shutdown.exe; do
    cp "$build/tests/wine/recorder.exe" "$e2e_out/$program"
done
e2e_run 2 120

expect_exit_code 1
for program in cmd.exe rundll32.exe shutdown.exe; do
    if [ -e "$e2e_out/$program.log" ]; then
        echo "FAIL: the planted $program ran: $(cat "$e2e_out/$program.log")"
        e2e_fail=1
    fi
done
if [ "$(started_by_corvane | grep -c -i '^C:\\windows\\system32\\cmd.exe|')" -lt 11 ]; then
    echo "FAIL: the repair commands did not run from the system directory"
    e2e_fail=1
fi
e2e_finish
