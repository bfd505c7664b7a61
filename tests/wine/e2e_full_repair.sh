#!/usr/bin/env bash
# End to end: the full repair under Wine. Marker files placed only in the
# native and only in the 32-bit WMI directory must be registered by the
# matching regsvr32, in order; stand-in server programs record how they were
# started; the WMI test tool never runs. The 64-bit prefix gets the upgrade
# library (schema files compiled, repository upgraded), the 32-bit prefix
# does not (repository reset).
#
#   e2e_full_repair.sh ARCH BUILD_DIR SOURCE_DIR
set -uo pipefail
arch=$1 build=$(cd "$2" && pwd) source=$(cd "$3" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2e_lib.sh"

e2e_setup "$arch" full-repair
windows=$WINEPREFIX/drive_c/windows
native=$windows/system32/wbem
placed=()
place() {  # SOURCE-FILE DESTINATION
    cp "$1" "$2" && placed+=("$2" "$2.log")
}
cleanup() {
    rm -f "${placed[@]}"
    [ "$arch" = win64 ] && prepare_frequency
}
trap cleanup EXIT

recorder=$build/tests/wine/recorder.exe
place "$recorder" "$native/corvane-marker-native.dll"
place "$recorder" "$native/wbemtest2.exe"
place "$recorder" "$native/WbemTest.exe"
place "$recorder" "$windows/system32/wmiprvse.exe"
if [ "$arch" = win64 ]; then
    place "$recorder" "$windows/syswow64/wbem/corvane-marker-wow.dll"
    place "$recorder" "$windows/syswow64/wbem/corvane-wow-server.exe"
    place "$recorder" "$windows/syswow64/wmiprvse.exe"
    place "$recorder" "$native/wbemupgd.dll"
    echo "#pragma namespace(\"\\\\\\\\.\\\\root\\\\default\")" > "$native/corvane.mof" && placed+=("$native/corvane.mof")
else
    place "$recorder" "$native/winmgmt.exe"
fi

if [ "$arch" = win64 ]; then
    prepare_frequency 1440
    [ -n "$frequency_before" ] || { echo "FAIL: could not plant the creation frequency"; e2e_fail=1; }
fi

# A fixed limit for the whole run, from start to the final message box.
e2e_run 2 180
[ "$arch" = win64 ] && expect_frequency_kept

C='C:\windows'
expect_in_order \
    "$C\\system32\\cmd.exe|cmd.exe /c net stop winmgmt /y" \
    "|$C\\system32\\regsvr32.exe /s $C\\system32\\wbem\\corvane-marker-native.dll" \
    "|$C\\system32\\wbem\\wbemtest2.exe /regserver"
if [ "$arch" = win64 ]; then
    expect_in_order \
        "|$C\\system32\\wbem\\wbemtest2.exe /regserver" \
        "|$C\\syswow64\\regsvr32.exe /s $C\\syswow64\\wbem\\corvane-marker-wow.dll" \
        "|$C\\syswow64\\wbem\\corvane-wow-server.exe /regserver" \
        "|$C\\system32\\wbem\\mofcomp.exe $C\\system32\\wbem\\corvane.mof" \
        "|$C\\system32\\rundll32.exe wbemupgd, UpgradeRepository" \
        "|$C\\syswow64\\wmiprvse.exe /regserver" \
        "|$C\\system32\\wmiprvse.exe /regserver" \
        "$C\\system32\\cmd.exe|cmd.exe /c net start ccmexec" \
        "$C\\system32\\cmd.exe|cmd.exe /c net start winmgmt" \
        "$C\\system32\\cmd.exe|cmd.exe /c gpupdate /force"
    # The native registrations ran the 64-bit regsvr32, the others the 32-bit one.
    if [ "$(loaded_count 'system32\regsvr32.exe')" -lt 1 ] || [ "$(loaded_count 'syswow64\regsvr32.exe')" -lt 1 ]; then
        echo "FAIL: regsvr32 did not run from both system directories"
        e2e_fail=1
    fi
    if started_by_corvane | grep -q -- '/resetrepository'; then
        echo "FAIL: the repository was reset although the upgrade library is present"
        e2e_fail=1
    fi
else
    expect_in_order \
        "|$C\\system32\\wbem\\wbemtest2.exe /regserver" \
        "|$C\\system32\\wbem\\winmgmt.exe /verifyrepository" \
        "|$C\\system32\\wmiprvse.exe /regserver" \
        "$C\\system32\\cmd.exe|cmd.exe /c gpupdate /force"
    if started_by_corvane | grep -q -i -- 'syswow64\|mofcomp.exe C:\|UpgradeRepository'; then
        echo "FAIL: the 32-bit prefix ran a 64-bit-only or an upgrade step"
        e2e_fail=1
    fi
    # The repository verifies (the stand-in ends with 0) and the request
    # reached the class (Wine's answer has no value but raises nothing).
    if started_by_corvane | grep -q -- '/salvagerepository\|/resetrepository'; then
        echo "FAIL: a consistent repository was salvaged or reset"
        e2e_fail=1
    fi
fi

# The stand-ins saw their switch, hidden; the test tool never ran.
if ! grep -q -F '/regserver|show=0' "$native/wbemtest2.exe.log" 2>/dev/null; then
    echo "FAIL: wbemtest2.exe did not record a hidden /regserver start"
    e2e_fail=1
fi
# The provider host is registered in a normal window.
if ! grep -q -F '/regserver|show=1' "$windows/system32/wmiprvse.exe.log" 2>/dev/null; then
    echo "FAIL: wmiprvse.exe did not record a /regserver start in a normal window"
    e2e_fail=1
fi
if [ -e "$native/WbemTest.exe.log" ] || started_by_corvane | grep -q -i 'wbemtest.exe '; then
    echo "FAIL: the WMI test tool was started"
    e2e_fail=1
fi
expect_line "box.title=Tessaline"
expect_exit_code 1
expect_no_handle_growth
e2e_finish
