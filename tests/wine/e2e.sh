#!/usr/bin/env bash
# End to end: the real Corvane.exe under Wine on a virtual display, watched
# and answered by the observer. Wine's WMI accepts CreateRestorePoint but
# returns no value, so every attempt fails, both repairs run and the final
# message appears. Each scenario is one run, checked for all it shows.
#
#   e2e.sh ARCH BUILD_DIR SOURCE_DIR SCENARIO
#
# answer-no: a hostile download folder (a cmd.exe, rundll32.exe,
#   shutdown.exe and a DLL planted beside Corvane.exe and in the current
#   directory), stand-in programs in the WMI directories, a busy WMI
#   directory, shadow-copy services to put back, and No, which starts the
#   System Restore interface.
# answer-yes: WMI unreachable, the status window closed during the full
#   repair, and Yes, which asks Windows to restart.
# unattended: started on a window station nobody can see, as by a
#   deployment job: Corvane asks nothing and ends by itself.
set -uo pipefail
arch=$1 build=$(cd "$2" && pwd) source=$(cd "$3" && pwd) scenario=$4
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2e_lib.sh"

e2e_setup "$arch" "$scenario"
windows=$WINEPREFIX/drive_c/windows
native=$windows/system32/wbem
C='C:\windows'
placed=()
place() {  # DESTINATION...: copies of the recorder, removed afterwards
    local to
    for to in "$@"; do
        mkdir -p "$(dirname "$to")" && cp "$build/tests/wine/recorder.exe" "$to" &&
            placed+=("$to" "$to.log")
    done
}
trap 'rm -f "${placed[@]}"; rm -rf "$windows/system32/restore"' EXIT

# Wine has no shadow-copy services. The 32-bit prefix gets both Disabled,
# which must end Manual (3); the 64-bit prefix an Automatic VSS, which must
# stay so (2), and no swprv, which must pass without a trace.
sc_quiet() { WINEDEBUG=-all timeout 60 wine sc "$@" >/dev/null 2>&1; }
start_types() {  # as Wine's service manager keeps them, like Windows, in the registry
    local name
    for name in VSS swprv; do
        echo -n "$name=$(wine_reg query "HKLM\\System\\CurrentControlSet\\Services\\$name" /v Start |
            awk '$1 == "Start" { print $3 }') "
    done
}
prepare_services() {
    trap 'rm -f "${placed[@]}"; rm -rf "$windows/system32/restore"
          sc_quiet delete VSS; sc_quiet delete swprv; timeout 30 wineserver -w' EXIT
    sc_quiet delete VSS
    sc_quiet delete swprv
    if [ "$arch" = win32 ]; then
        services_expected="VSS=0x3 swprv=0x3 "
        sc_quiet create VSS binPath= none.exe start= disabled &&
            sc_quiet create swprv binPath= none.exe start= disabled
    else
        services_expected="VSS=0x2 swprv= "
        sc_quiet create VSS binPath= none.exe start= auto
    fi || fail "sc create"
    timeout 30 wineserver -w  # the run starts its own on the virtual display
}

answer_no() {
    # Corvane.exe in a folder of its own; the run's directory is the current one.
    mkdir -p "$e2e_out/app" && mv "$e2e_out/Corvane.exe" "$e2e_out/app/"
    local program dir
    for dir in "$e2e_out" "$e2e_out/app"; do
        for program in cmd.exe rundll32.exe shutdown.exe; do
            cp "$build/tests/wine/recorder.exe" "$dir/$program"
        done
        # uxtheme.dll is loaded by name when the first window opens; the
        # override makes Wine take a file it finds, as Windows does.
        cp "$build/tests/wine/planted.dll" "$dir/uxtheme.dll"
    done
    export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;uxtheme=n,b"

    place "$native/corvane-marker-native.dll" "$native/wbemtest2.exe" "$native/WbemTest.exe" \
        "$windows/system32/wmiprvse.exe" "$windows/system32/restore/rstrui.exe"
    if [ "$arch" = win64 ]; then
        place "$windows/syswow64/wbem/corvane-marker-wow.dll" \
            "$windows/syswow64/wbem/corvane-wow-server.exe" "$windows/syswow64/wmiprvse.exe" \
            "$native/wbemupgd.dll"
        echo '#pragma namespace("\\\\.\\root\\default")' > "$native/corvane.mof" &&
            placed+=("$native/corvane.mof")
    else
        place "$native/winmgmt.exe"
    fi
    # Enough libraries that the full repair takes a while: the window must
    # keep answering all along.
    local i
    for i in $(seq -w 1 60); do
        : > "$native/corvane-many-$i.dll" && placed+=("$native/corvane-many-$i.dll")
    done

    [ "$arch" = win64 ] && prepare_frequency 1440
    prepare_services
    e2e_run 7 240 app/Corvane.exe
    [ "$arch" = win64 ] && expect_frequency_kept
    [ "$(start_types)" = "$services_expected" ] ||
        fail "service start types $(start_types), expected $services_expected"
    ! grep -a 'EnableShadowCopyServices' "$e2e_out/trace.log" || fail "the services were traced"

    expect_line "status.caption=Brindlemoor - Corvane"
    expect_line "status.label=Creating System Restore Point..."
    expect_line "box.title=Tessaline"
    expect_line 'box.text=Error Creating Restore Point\r\n-2147217407 - CreateRestorePoint returned no value\r\nResult:  1\r\nCheck System Restore Service State!\r\nRepair performed, but you may need to restart the PC.\r\n\r\nClick YES to restart now or NO to start the System Restore interface.'
    expect_line "status.unanswered-reads=0"
    [ "$(sed -n 's/^status.repair-reads=//p' "$e2e_out/observer.log")" -ge 20 ] ||
        fail "the status window was hardly read during the full repair"
    expect_exit_code 1
    expect_count "sysrestore_create" 3 "restore-point attempts"
    expect_no_handle_growth
    # The quick repair, then the full repair in order, each program native.
    expect_started "$here/expected/quick-repair.txt"
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
            "$C\\system32\\cmd.exe|cmd.exe /c gpupdate /force"
        expect_not_started '/resetrepository'
        if [ "$(loaded_count 'syswow64\regsvr32.exe')" -lt 1 ]; then
            fail "the 32-bit libraries were not registered by SysWOW64's regsvr32"
        fi
    else
        # The repository verifies (the stand-in ends with 0), and the
        # request reached the class (Wine's answer has no value but raises
        # nothing): it is neither salvaged nor reset.
        expect_in_order \
            "|$C\\system32\\wbem\\winmgmt.exe /verifyrepository" \
            "|$C\\system32\\wmiprvse.exe /regserver" \
            "$C\\system32\\cmd.exe|cmd.exe /c gpupdate /force"
        expect_not_started 'syswow64\|mofcomp.exe C:\|UpgradeRepository\|/salvagerepository\|/resetrepository'
    fi
    if [ "$(loaded_count 'syswow64\cmd.exe')" != 0 ] ||
        [ "$(loaded_count 'system32\regsvr32.exe')" -lt 1 ]; then
        fail "a system program ran from SysWOW64 instead of the native System32"
    fi
    local registered
    registered=$(started_by_corvane | grep -c -F 'regsvr32.exe /s C:\windows\system32\wbem\corvane-many-')
    [ "$registered" = 60 ] || fail "$registered of the 60 libraries were registered"
    # The stand-ins saw how they were started; the WMI test tool never ran.
    expect_logged "$native/wbemtest2.exe" '/regserver|show=0'
    expect_logged "$windows/system32/wmiprvse.exe" '/regserver|show=1'
    [ -e "$native/WbemTest.exe.log" ] && fail "the WMI test tool was started"
    # No: the System Restore interface, minimised, not awaited.
    expect_logged "$windows/system32/restore/rstrui.exe" \
        'C:\windows\system32\restore\rstrui.exe|show=2'
    # Nothing planted ever ran or loaded.
    local planted
    planted=$(find "$e2e_out" -name '*.exe.log' -o -name '*.loaded')
    [ -n "$planted" ] && fail "a planted file ran or was loaded: $planted"
    grep -a "^$(corvane_thread):trace:loaddll:" "$e2e_out/trace.log" | grep -q -i -F '\\uxtheme.dll"' ||
        fail "Corvane no longer loads uxtheme.dll; plant a DLL that it does load"
}

answer_yes() {
    export E2E_DLL_OVERRIDES="wbemprox="  # WMI cannot be reached
    e2e_observer_options=close-during-full-repair
    [ "$arch" = win64 ] && prepare_frequency
    e2e_run 6 180
    [ "$arch" = win64 ] && expect_frequency_kept

    expect_line "status.closed=yes"
    expect_line "status.caption="
    expect_line "box.title=Tessaline"
    local text
    text=$(sed -n 's/^box.text=//p' "$e2e_out/observer.log")
    # A binding error, a negative HRESULT with its text; the first value kept.
    [[ $text =~ ^Error\ Creating\ Restore\ Point\\r\\n-[0-9]+\ -\ [^\\]+\\r\\nResult:\ \ 1\\r\\n ]] ||
        fail "the final message does not show the binding error: $text"
    # The repair went on to its end after the window was closed; then Wine
    # carried out ExitWindowsEx by starting wineboot, and no fallback ran.
    started_by_corvane | tail -n 2 | head -n 1 | grep -q -F 'cmd.exe /c gpupdate /force' ||
        fail "the full repair did not run to its end"
    started_by_corvane | tail -n 1 | grep -q -i '\\wineboot.exe' ||
        fail "the restart was not requested from Windows"
    expect_not_started 'shutdown.exe\|wpeutil.exe'
}

unattended() {
    # A question asked anyway would end at the time limit (exit code 124).
    timeout 240 xvfb-run -a -n "$e2e_display" -s "-screen 0 1024x768x24" bash -c '
        cd "$1"
        WINEDEBUG=+debugstr,+process,+commctrl timeout 150 wine "$2" Corvane.exe \
            > corvane.stdout 2> trace.log
        echo $? > corvane.rc
        timeout 30 wineserver -w
    ' _ "$e2e_out" "$(windows_path "$build/tests/wine/hidden_station.exe")"

    expect_exit_code 1
    expect_count "sysrestore_create" 3 "restore-point attempts"
    expect_count "no visible desktop, the final message is skipped (Cancel)" 1 \
        "trace lines of the skipped question"
    # The common controls are set up before the first window (XP needs it).
    expect_count "commctrl:InitCommonControlsEx 0x4000$" 1 "initialisations of the standard controls"
    expect_not_started 'rstrui\|shutdown'
}

"${scenario//-/_}"
e2e_finish
