#!/usr/bin/env bash
# End to end: the full repair under Wine. Marker files placed only in the
# native and only in the 32-bit WMI directory must be registered by the
# matching regsvr32, in order; stand-in server programs record how they were
# started; the WMI test tool never runs. The 64-bit prefix gets the upgrade
# library (schema files compiled, repository upgraded), the 32-bit prefix
# does not (repository reset). Wine has no shadow-copy services: the 32-bit
# prefix gets both as Disabled, which must end Manual; the 64-bit prefix an
# Automatic VSS, which must stay so, and no swprv, which must pass quietly.
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
services=(VSS swprv)
cleanup() {
    rm -f "${placed[@]}"
    for name in "${services[@]}"; do timeout 60 wine sc delete "$name" >/dev/null 2>&1; done
    timeout 30 wineserver -w
}
trap cleanup EXIT
# The start type as Wine's service manager keeps it, like Windows, in the registry.
start_type() {
    timeout 60 wine reg query "HKLM\\System\\CurrentControlSet\\Services\\$1" /v Start 2>/dev/null |
        tr -d '\r' | awk '$1 == "Start" { print $3 }'
}
create_service() {  # NAME START
    if ! timeout 60 wine sc create "$1" binPath= 'C:\windows\system32\corvane-none.exe' start= "$2" >/dev/null 2>&1; then
        echo "FAIL: sc create $1 start= $2"
        e2e_fail=1
    fi
}
for name in "${services[@]}"; do timeout 60 wine sc delete "$name" >/dev/null 2>&1; done

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
    create_service VSS auto
    expected_start_types="VSS=0x2 swprv="
else
    create_service VSS disabled
    create_service swprv disabled
    expected_start_types="VSS=0x3 swprv=0x3"
fi
timeout 30 wineserver -w  # the run starts its own on the virtual display

# A fixed limit for the whole run, from start to the final message box.
e2e_run 2 180

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
        "|$C\\system32\\wbem\\winmgmt.exe /resetrepository" \
        "|$C\\system32\\wmiprvse.exe /regserver" \
        "$C\\system32\\cmd.exe|cmd.exe /c gpupdate /force"
    if started_by_corvane | grep -q -i -- 'syswow64\|mofcomp.exe C:\|UpgradeRepository'; then
        echo "FAIL: the 32-bit prefix ran a 64-bit-only or an upgrade step"
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
got="VSS=$(start_type VSS) swprv=$(start_type swprv)"
if [ "$got" != "$expected_start_types" ]; then
    echo "FAIL: service start types $got, expected $expected_start_types"
    e2e_fail=1
fi
if grep -a -q 'EnableShadowCopyServices' "$e2e_out/trace.log"; then
    echo "FAIL: the shadow-copy services were traced: $(grep -a -A2 EnableShadowCopyServices "$e2e_out/trace.log")"
    e2e_fail=1
fi
expect_line "box.title=Tessaline"
expect_exit_code 1
expect_no_handle_growth
e2e_finish
