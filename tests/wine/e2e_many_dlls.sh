#!/usr/bin/env bash
# End to end: a WMI directory holding 2,000 component libraries. The full
# repair registers every one of them, and the status window keeps answering
# (and repainting) throughout: the observer reads its text all along and
# every read must be answered.
#
#   e2e_many_dlls.sh ARCH BUILD_DIR SOURCE_DIR
set -uo pipefail
arch=$1 build=$(cd "$2" && pwd) source=$(cd "$3" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2e_lib.sh"

e2e_setup "$arch" many-dlls
wbem=$WINEPREFIX/drive_c/windows/system32/wbem
count=${E2E_DLL_COUNT:-2000}
for i in $(seq -w 1 "$count"); do : > "$wbem/corvane-many-$i.dll"; done
trap 'rm -f "$wbem"/corvane-many-*.dll' EXIT

e2e_run 2 1500

expect_exit_code 1
expect_line "box.title=Tessaline"
registered=$(started_by_corvane | grep -c -F 'regsvr32.exe /s C:\windows\system32\wbem\corvane-many-')
if [ "$registered" != "$count" ]; then
    echo "FAIL: $registered of the $count libraries were registered"
    e2e_fail=1
fi
expect_line "status.unanswered-reads=0"
if [ "$(sed -n 's/^status.repair-reads=//p' "$e2e_out/observer.log")" -lt $((count / 20)) ]; then
    echo "FAIL: the status window was hardly read during the repair"
    e2e_fail=1
fi
e2e_finish
