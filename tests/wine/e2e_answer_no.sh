#!/usr/bin/env bash
# End to end: answering No starts the System Restore interface minimised,
# from the native system directory, and Corvane ends without waiting for it.
#
#   e2e_answer_no.sh ARCH BUILD_DIR SOURCE_DIR
set -uo pipefail
arch=$1 build=$(cd "$2" && pwd) source=$(cd "$3" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2e_lib.sh"

e2e_setup "$arch" answer-no
interface=$WINEPREFIX/drive_c/windows/system32/restore/rstrui.exe
mkdir -p "$(dirname "$interface")"
cp "$build/tests/wine/recorder.exe" "$interface"
trap 'rm -rf "$(dirname "$interface")"' EXIT

e2e_run 7 120

expect_exit_code 1
if ! grep -q -F '"C:\windows\system32\restore\rstrui.exe"|show=2' "$interface.log" 2>/dev/null; then
    echo "FAIL: the System Restore interface was not started minimised: $(cat "$interface.log" 2>/dev/null)"
    e2e_fail=1
fi
e2e_finish
