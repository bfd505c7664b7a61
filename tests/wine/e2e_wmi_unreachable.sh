#!/usr/bin/env bash
# End to end: WMI cannot be reached at all (its provider is disabled for
# Corvane's process). Every attempt fails at the binding, and the final
# message shows that error's code and text.
#
#   e2e_wmi_unreachable.sh ARCH BUILD_DIR SOURCE_DIR
set -uo pipefail
arch=$1 build=$(cd "$2" && pwd) source=$(cd "$3" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2e_lib.sh"

e2e_setup "$arch" wmi-unreachable
export E2E_DLL_OVERRIDES="wbemprox="
e2e_run 2 120

expect_exit_code 1
text=$(sed -n 's/^box.text=//p' "$e2e_out/observer.log")
line2=$(echo "$text" | awk -F'\\\\r\\\\n' '{print $2}')
line3=$(echo "$text" | awk -F'\\\\r\\\\n' '{print $3}')
echo "line 2: $line2"
# A binding error: a negative HRESULT and its text, never the success form.
if ! [[ $line2 =~ ^-[0-9]+\ -\ .+ ]]; then
    echo "FAIL: line 2 does not show the binding error: $line2"
    e2e_fail=1
fi
if [ "$line3" != "Result:  1" ]; then
    echo "FAIL: line 3 should keep the first value: $line3"
    e2e_fail=1
fi
e2e_finish
