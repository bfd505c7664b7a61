#!/usr/bin/env bash
# End to end: the real Corvane.exe under Wine, watched and answered by the
# observer. Wine's WMI accepts CreateRestorePoint but returns no value, so
# every attempt fails, both repairs run and the final message appears. Each
# scenario is one run, checked for all it shows.
#
#   e2e.sh ARCH BUILD_DIR SOURCE_DIR answer-no|answer-yes|unattended
set -uo pipefail
arch=$1 build=$(cd "$2" && pwd) source=$(cd "$3" && pwd) scenario=$4
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2e_lib.sh"

e2e_setup "$arch" "$scenario"
windows=$WINEPREFIX/drive_c/windows
native=$windows/system32/wbem
C='C:\windows'
# The full repair's closing commands, from the list the tests keep.
mapfile -t full_repair_end < <(grep -v '^#' "$here/expected/full-repair-end.txt")
full_repair_last=${full_repair_end[-1]}
placed=()
place() {  # DESTINATION...: stand-ins that log how they were started, removed afterwards
    local to
    for to in "$@"; do
        mkdir -p "$(dirname "$to")" && rm -f "$to.log" && cp "$build/tests/wine/recorder.exe" "$to" &&
            placed+=("$to" "$to.log")
    done
}
# WMI's client library of the build's own bits, for the stand-in.
libraries=system32
[ "$arch" = win32 ] || grep -q x86_64-w64-mingw32 "$build/CMakeCache.txt" || libraries=syswow64
wbemprox=$windows/$libraries/wbem/wbemprox.dll
wmi_back() {  # Wine's own WMI client library again
    [ ! -e "$e2e_out/wbemprox.saved" ] || mv -f "$e2e_out/wbemprox.saved" "$wbemprox"
}
wmi_stand_in() {  # MODE: WMI connections fail ("missing") or hang ("hang"); see wmi_stand_in.cpp
    cp "$wbemprox" "$e2e_out/wbemprox.saved" && cp "$build/tests/wine/wmi_stand_in.dll" "$wbemprox"
    export E2E_DLL_OVERRIDES="wbemprox=n" CORVANE_WMI_STAND_IN=$1
}
trap 'rm -f "${placed[@]}"; rm -rf "$windows/system32/restore"; wmi_back; chattr -i "$e2e_out/held" 2>/dev/null' EXIT
expect_logged() {  # STAND-IN LINE-PART
    grep -q -F -- "$2" "$1.log" 2>/dev/null || fail "$(basename "$1") did not record $2"
}

# Wine's own tools, quiet. No wineserver may be left behind: the next run
# starts its own on the virtual display. reg works in the native view.
sc_quiet() { WINEDEBUG=-all timeout 60 wine sc "$@" >/dev/null 2>&1; }
wine_reg() {
    WINEDEBUG=-all timeout 120 wine reg "$@" /reg:64 2>/dev/null | tr -d '\r'
    timeout 30 wineserver -w
}
reg_value() { wine_reg query "$1" /v "$2" | awk -v name="$2" '$1 == name { print $3 }'; }
# The creation frequency of restore points, planted or none before a run:
# every request sets it and puts it back.
restore_key='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\SystemRestore'
frequency=SystemRestorePointCreationFrequency
# The value planted before a run, read back: a write of Wine's reg was once
# lost on a new prefix, and the run then failed for a value it never had.
plant_frequency() {
    local try
    for try in 1 2 3; do
        wine_reg add "$restore_key" /v $frequency /t REG_DWORD /d 1440 /f >/dev/null
        [ "$(reg_value "$restore_key" $frequency)" != 0x5a0 ] || return 0
    done
    fail "the creation frequency could not be planted"
}
# What a request left recorded: nothing once the value is back.
record() { wine_reg query 'HKLM\SOFTWARE\Brindlemoor' /s | grep -c CreationFrequencyBefore; }

# The two shadow-copy services as the run finds them (Wine has neither),
# and the start types they must have after it.
services_before() {  # VSS-START [SWPRV-START]: sc's words; none for no swprv
    sc_quiet delete VSS; sc_quiet delete swprv
    sc_quiet create VSS binPath= none.exe start= "$1"
    [ -z "${2:-}" ] || sc_quiet create swprv binPath= none.exe start= "$2"
    timeout 30 wineserver -w
}
services_after() {  # EXPECTED: "VSS=0x.. swprv=0x..", as the service manager keeps them, like Windows
    local key='HKLM\System\CurrentControlSet\Services' got
    got="VSS=$(reg_value "$key\\VSS" Start) swprv=$(reg_value "$key\\swprv" Start)"
    [ "$got" = "$1" ] || fail "after the run the services are $got, expected $1"
}

# A hostile download folder (programs and a DLL planted beside Corvane.exe
# and in the current directory), stand-ins in the WMI directories with the
# upgrade library, an Automatic VSS and no swprv, and No.
answer_no() {
    # Corvane.exe in a folder of its own; the run's directory is the current one.
    mkdir -p "$e2e_out/app" && mv "$e2e_out/Corvane.exe" "$e2e_out/app/"
    # cmd.exe looks for reg, net and gpupdate in its current directory first.
    place "$e2e_out"/{,app/}{cmd,rundll32,shutdown,reg,gpupdate}.exe
    local bat
    for bat in "$e2e_out"/{,app/}net.bat; do
        printf '@echo %%*>>"Z:%s.log"\r\n' "${bat//\//\\}" > "$bat" && placed+=("$bat" "$bat.log")
    done
    # uxtheme.dll is loaded by name when the first window opens; the
    # override makes Wine take a file it finds, as Windows does.
    cp "$build/tests/wine/planted.dll" "$e2e_out/uxtheme.dll"
    cp "$build/tests/wine/planted.dll" "$e2e_out/app/uxtheme.dll"
    export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;uxtheme=n,b"

    place "$native/corvane-marker-native.dll" "$native/wbemtest2.exe" "$native/WbemTest.exe" \
        "$windows/system32/wmiprvse.exe" "$windows/system32/restore/rstrui.exe" "$native/wbemupgd.dll"
    echo '#pragma namespace("\\\\.\\root\\default")' > "$native/corvane.mof" && placed+=("$native/corvane.mof")
    if [ "$arch" = win64 ]; then
        place "$windows/syswow64/wbem/corvane-marker-wow.dll" \
            "$windows/syswow64/wbem/corvane-wow-server.exe" "$windows/syswow64/wmiprvse.exe"
        # A prefix made by Wine's 64-bit half alone has no 32-bit programs.
        [ -e "$windows/syswow64/regsvr32.exe" ] || place "$windows/syswow64/regsvr32.exe"
    fi
    # Enough libraries that the full repair takes a while: the window must
    # keep answering all along.
    touch "$native"/corvane-many-{01..60}.dll && placed+=("$native"/corvane-many-{01..60}.dll)
    # An Automatic VSS must stay so, and a missing swprv pass without an error.
    services_before auto
    plant_frequency
    # A second Corvane, started while the first runs, ends at once with
    # 1618 (82 as Linux reads an exit code) and changes nothing.
    e2e_second=5 e2e_run 7 240 app/Corvane.exe

    [ "$(cat "$e2e_out/second.rc") $(cat "$e2e_out/second.first")" = "82 yes" ] ||
        fail "the second Corvane ended with $(cat "$e2e_out/second.rc") (the first ran on: $(cat "$e2e_out/second.first"))"
    grep -a -q 'OutputDebugStringA "\\tModule1\\\\Main: another Corvane is running, this one ends (1618)"' \
        "$e2e_out/second.log" || fail "the second Corvane did not say why it ended"
    ! grep -a -q 'CreateProcessInternalW app .*cmdline L"cmd.exe' "$e2e_out/second.log" ||
        fail "the second Corvane started a repair"
    [ "$(reg_value "$restore_key" $frequency) $(record)" = "0x5a0 0" ] ||
        fail "the creation frequency was not put back, or its record was left"
    services_after "VSS=0x2 swprv="
    ! grep -a 'Module1\\.* VB ERROR' "$e2e_out/trace.log" || fail "a step traced an error"
    expect_line "status.caption=Brindlemoor - Corvane"
    expect_line "status.label=Creating System Restore Point..."
    expect_line 'box.text=Error Creating Restore Point\r\n-2147217407 - CreateRestorePoint returned no value\r\nResult:  1\r\nCheck System Restore Service State!\r\nRepair performed, but you may need to restart the PC.\r\n\r\nClick YES to restart now or NO to start the System Restore interface.'
    expect_line "status.unanswered-reads=0"
    [ "$(sed -n 's/^status.repair-reads=//p' "$e2e_out/observer.log")" -ge 20 ] ||
        fail "the status window was hardly read during the full repair"
    expect_line "handles.grew=no"  # from the end of the first attempt to the final message
    expect_end 1

    # The quick repair, then the full repair in order, each program native;
    # the upgrade library rebuilds the repository, which is never checked.
    expect_started "$here/expected/quick-repair.txt"
    local order=("$C\\system32\\cmd.exe|cmd.exe /c net stop winmgmt /y"
        "|$C\\system32\\regsvr32.exe /s $C\\system32\\wbem\\corvane-marker-native.dll"
        "|$C\\system32\\wbem\\wbemtest2.exe /regserver")
    local never='\\wbemtest.exe\|winmgmt.exe'
    if [ "$arch" = win64 ]; then
        order+=("|$C\\syswow64\\regsvr32.exe /s $C\\syswow64\\wbem\\corvane-marker-wow.dll"
            "|$C\\syswow64\\wbem\\corvane-wow-server.exe /regserver")
    else
        never+='\|syswow64'
    fi
    order+=("|$C\\system32\\wbem\\mofcomp.exe $C\\system32\\wbem\\corvane.mof"
        "|$C\\system32\\rundll32.exe wbemupgd, UpgradeRepository")
    [ "$arch" = win32 ] || order+=("|$C\\syswow64\\wmiprvse.exe /regserver")
    expect_in_order "${order[@]}" "|$C\\system32\\wmiprvse.exe /regserver" "${full_repair_end[@]}"
    expect_not_started "$never"
    [ "$(started_by_corvane | grep -c -F "regsvr32.exe /s $C\\system32\\wbem\\corvane-many-")" = 60 ] ||
        fail "not all of the 60 libraries were registered"
    # The stand-ins saw how they were started: hidden, shown, minimised, and
    # each in the system directory.
    expect_logged "$native/wbemtest2.exe" "/regserver|show=0|cwd=$C\\system32"
    expect_logged "$windows/system32/wmiprvse.exe" "/regserver|show=1|cwd=$C\\system32"
    expect_logged "$windows/system32/restore/rstrui.exe" \
        "$C\\system32\\restore\\rstrui.exe|show=2|cwd=$C\\system32"
    local planted
    planted=$(find "$e2e_out" -name '*.exe.log' -o -name '*.bat.log' -o -name '*.loaded')
    [ -z "$planted" ] || fail "a planted file ran or was loaded: $planted"
    # Wine's process trace shows what cmd.exe started too, logged or not.
    ! grep -a 'CreateProcessInternalW app L"Z:' "$e2e_out/trace.log" ||
        fail "a program in Corvane's folder or the current directory was started (above)"
    grep -a "^$(corvane_thread):trace:loaddll:" "$e2e_out/trace.log" | grep -q -i -F '\\uxtheme.dll"' ||
        fail "Corvane no longer loads uxtheme.dll; plant a DLL that it does load"
}

# A Corvane killed in a hung request leaves the value at 0; the next puts it
# back, hangs with its window closed, and the Restart Manager's close (not
# its query) puts the value back and ends the run. Then a slow, unreachable
# WMI, the window minimised then closed, and Yes: a restart is asked for.
answer_yes() {
    plant_frequency
    wmi_stand_in hang
    hung() {  # until the request's own connection hangs
        local waited
        for waited in $(seq 50); do
            grep -a -q 'wmi stand-in: connection 2' "$e2e_out/trace.log" 2>/dev/null && return
            sleep 1
        done
    }
    killed() { WINEDEBUG=-all timeout 30 wine taskkill /f /im Corvane.exe >/dev/null 2>&1; wait; }
    awaited() { local waited; for waited in $(seq 20); do [ -e "$1" ] && return; sleep 0.5; done; }
    # The value and the record while Corvane runs: no waiting for the server to end.
    now() {
        WINEDEBUG=-all timeout 60 wine reg query "$restore_key" /v $frequency /reg:64 2>/dev/null |
            tr -d '\r' | awk -v name=$frequency '$1 == name { printf "%s ", $3 }'
        WINEDEBUG=-all timeout 60 wine reg query 'HKLM\SOFTWARE\Brindlemoor' /s /reg:64 2>/dev/null |
            grep -c CreationFrequencyBefore
    }
    e2e_run "" 60 &
    hung
    killed
    [ "$(reg_value "$restore_key" $frequency) $(record)" = "0x0 1" ] ||
        fail "the kill did not leave the creation frequency at 0 with its record"

    e2e_observer_options=session
    rm -f "$e2e_out/trace.log"  # hung looks at the next run's
    e2e_run 0 60 &
    hung
    touch "$e2e_out/send-query" && awaited "$e2e_out/query-sent"
    [ "$(now)" = "0x0 1" ] || fail "the query of the session's end put the value back, or it was not 0"
    rm -f "$e2e_out/corvane.rc"
    touch "$e2e_out/send-end" && awaited "$e2e_out/end-sent"
    [ "$(now)" = "0x5a0 0" ] || fail "the end of the session did not put the value back and remove the record"
    local waited
    for waited in $(seq 30); do [ -e "$e2e_out/corvane.rc" ] && break; sleep 1; done
    [ "$(cat "$e2e_out/corvane.rc" 2>/dev/null)" = 1 ] ||
        fail "asked to close, Corvane did not end by itself with 1 (exit code: $(cat "$e2e_out/corvane.rc" 2>/dev/null))"
    killed
    wmi_back
    grep -a -q 'Main: the creation frequency that a run ended midway left at 0 is put back' \
        "$e2e_out/trace.log" || fail "the run did not say it put the creation frequency back"
    grep -a -q 'Main: Windows asks Corvane to close, nothing further is started' "$e2e_out/trace.log" ||
        fail "the run did not say it stopped for the close"
    ! grep -a -q 'cmdline L"cmd.exe /c reg delete' "$e2e_out/trace.log" || fail "a repair began after the close"
    expect_line "status.closed-exists=yes"
    expect_line "status.closed-visible=no"
    expect_line "status.label-while-waiting=Creating System Restore Point..."
    expect_line "session.17=answered 1"  # WM_QUERYENDSESSION: yes, at once
    expect_line "session.22=answered 0"  # WM_ENDSESSION
    expect_line "status.unanswered-reads=0"

    wmi_stand_in slow
    e2e_observer_options=minimise-then-close
    e2e_run 6 200
    wmi_back
    [ "$(reg_value "$restore_key" $frequency) $(record)" = "0x5a0 0" ] ||
        fail "the creation frequency was not put back, or its record was left"
    ! grep -a 'Module1\\.* VB ERROR' "$e2e_out/trace.log" | grep -v 'EnableSystemRestore VB ERROR' ||
        fail "errors were traced besides those of the unreachable WMI"

    expect_line "status.closed=yes"
    expect_line "status.visible=no"
    expect_line "status.minimised=yes"
    expect_line "status.minimised-in-front=no"
    expect_line "status.shown-after-close=no"
    # A binding error, a negative HRESULT with its text; the first value kept.
    grep -q -x -E 'box.text=Error Creating Restore Point\\r\\n-[0-9]+ - [^\\]+\\r\\nResult:  1\\r\\n.*' \
        "$e2e_out/observer.log" || fail "the final message does not show the binding error"
    # The repair went on to its end after the window was closed; then Corvane
    # asked for a forced restart at once, for a planned reason. Wine's
    # InitiateSystemShutdownExW only says so and reports success (Windows
    # restarts), so neither ExitWindowsEx (wineboot) nor a fallback followed.
    [[ $(started_by_corvane | tail -n 1) == *"${full_repair_last#*|}" ]] ||
        fail "the full repair did not run to its end"
    grep -a -q -F 'fixme:advapi:InitiateSystemShutdownExW (null) (null) 0 1 1 0x80000000' \
        "$e2e_out/trace.log" || fail "no forced, planned restart was asked for"
    expect_not_started 'shutdown.exe\|wpeutil.exe\|wineboot'
}

# On a window station nobody can see, as a deployment job runs it: Corvane
# asks nothing and ends by itself. A question would end at the time limit.
# Without the upgrade library the repository is checked: it verifies (the
# stand-in ends with 0), so it is neither salvaged nor reset. Both
# shadow-copy services are Disabled and must end Manual.
unattended() {
    cp "$build/tests/wine/hidden_station.exe" "$e2e_out/"
    place "$native/winmgmt.exe"
    services_before disabled disabled
    # A server (Wine then says 6.0 with a server's product type), where
    # System Restore's class is always missing: every request finds the
    # namespace missing, and yet a repository that verifies is kept.
    local version='HKCU\Software\Wine\AppDefaults\Corvane.exe'
    wine_reg add "$version" /v Version /d win2008 /f >/dev/null
    wmi_stand_in missing
    e2e_run "" 150 hidden_station.exe Corvane.exe
    wmi_back
    wine_reg delete "$version" /f >/dev/null
    grep -a -q 'wmi stand-in: connection 6 ' "$e2e_out/trace.log" || fail "WMI's stand-in was not used"
    [ "$(cat "$e2e_out/corvane.rc")" = 1 ] || fail "exit code $(cat "$e2e_out/corvane.rc"), expected 1"
    services_after "VSS=0x3 swprv=0x3"
    # The common controls are set up before the first window (XP needs it).
    [ "$(grep -a -c 'commctrl:InitCommonControlsEx 0x4000$' "$e2e_out/trace.log")" = 1 ] ||
        fail "the standard controls were not set up once"
    expect_in_order "|$C\\system32\\wbem\\winmgmt.exe /verifyrepository" "$full_repair_last"
    expect_not_started 'rstrui\|shutdown\|wineboot\|/salvagerepository\|/resetrepository\|UpgradeRepository'
}

# The check a tester runs, run here as a tester would: with a planted
# creation frequency, a Disabled VSS and no swprv. Its report must say what Wine shows: Wine ignores
# MB_TOPMOST, so the box's finding fails and with it the check (exit code 1);
# Wine 8 reports no window being shown to the check's hook, so the console
# windows are not shown; the capture hears the check's own line.
check() {
    cp "$build/CorvaneCheck.exe" "$e2e_out/"
    local run=planted report views=(" (64-bit view)" " (32-bit view)")
    [ "$arch" = win64 ] || views=("")
    services_before disabled
    plant_frequency
    local want=("PASS: creation frequency${views[0]}: REG_DWORD 1440 before, REG_DWORD 1440 after"
        "PASS: service: VSS Disabled before, Manual after (a repair ran: Manual expected)"
        "PASS: service: swprv absent before, absent after (unchanged expected)")
    [ "$arch" = win32 ] || want+=("PASS: creation frequency${views[1]}: absent before, absent after")
    e2e_run "" 200 CorvaneCheck.exe 3
    report=$(ls "$e2e_out"/CorvaneCheck-*.txt 2>/dev/null) || fail "$run: no report"
    mv "$report" "$e2e_out/report-$run.txt" && sed -i 's/\r$//' "$e2e_out/report-$run.txt"
    cp "$e2e_out/trace.log" "$e2e_out/trace-$run.log"
    [ "$(cat "$e2e_out/corvane.rc")" = 1 ] || fail "$run: the check's exit code is not 1"
    for line in '^PASS: outcome: exit code 1, no new point "Brindlemoor - Restore Point" of type 0 ' \
        '^FAIL: final box: "Tessaline", buttons &Yes|&No|Cancel, icon, topmost no, in front yes; .*; Cancel pressed, then it closed$' \
        "^FAIL: trace errors: .*; the check's own line came back after [0-9.]* s)$"; do
        grep -q -- "$line" "$e2e_out/report-$run.txt" || fail "$run: the report lacks a line like: $line"
    done
    for line in "${want[@]}" "NOT SHOWN: console windows: none of Corvane's, but the watch never saw Corvane's status window being shown either"; do
        grep -qxF -- "$line" "$e2e_out/report-$run.txt" || fail "$run: the report lacks: $line"
    done
    # The trace it caught is the one Wine's debug channel shows.
    diff <(sed -n '/^Trace (/,$p' "$e2e_out/report-$run.txt" | tail -n +2 | sed 's/^  //') \
        <(grep -a "^$(corvane_thread):[a-z]*:debugstr:OutputDebugStringA " "$e2e_out/trace.log" |
            sed -E -e 's/^[^"]*"(.*)"$/\1/' -e 's/\\t/\t/g' -e 's/\\\\/\\/g') ||
        fail "$run: the report's trace differs from Wine's (above)"
    expect_not_started 'rstrui\|shutdown\|wineboot'
    # While another Corvane holds the guard, Corvane does nothing: the report
    # says so on its first line, and the check ends with 3. From a folder it
    # cannot write (root writes anywhere but into an immutable folder), the
    # report goes to the temporary folder.
    local held=$e2e_out/held reports
    reports=$(echo "$WINEPREFIX"/drive_c/users/*/Temp)
    mkdir -p "$held" && cp "$build/CorvaneCheck.exe" "$build/Corvane.exe" "$held/" && rm -f "$reports"/CorvaneCheck-*.txt
    chattr +i "$held" || fail "chattr +i could not make a folder that root cannot write to"
    e2e_observer_options=hold-guard
    e2e_run 0 100 held/CorvaneCheck.exe 3
    report=$(ls "$reports"/CorvaneCheck-*.txt 2>/dev/null)
    [ "$(cat "$e2e_out/corvane.rc")" = 3 ] && grep -q "^Report: C:.*\\\\Temp\\\\CorvaneCheck-" "$e2e_out/corvane.stdout" &&
        head -n 1 "$report" | grep -q '^Another Corvane was running: ' ||
        fail "beside another Corvane, from a folder it cannot write: no exit code 3, or no report saying so first in the temporary folder"
    chattr -i "$held"
    timeout 30 wineserver -w
}

"${scenario//-/_}"
echo "artifacts: $e2e_out"
[ "$e2e_fail" = 0 ] && echo "PASS: $scenario"
exit $e2e_fail
