# Shared steps of the end-to-end tests: e2e_setup, e2e_run, the checks, and
# e2e_finish.

e2e_fail=0

e2e_setup() {  # ARCH NAME
    if ! command -v wine >/dev/null || ! command -v xvfb-run >/dev/null; then
        echo "FAIL: Wine and Xvfb are needed: run scripts/setup.sh (apt-get install wine wine32:i386 wine64 xvfb)"
        exit 1
    fi
    e2e_name=$2
    # The two prefixes run side by side: each looks for a free display from
    # its own number up, so that two starts never race for the same one.
    e2e_display=$([ "$1" = win64 ] && echo 150 || echo 100)
    e2e_out="$build/e2e/$1-$2"
    rm -rf "$e2e_out" && mkdir -p "$e2e_out"
    export WINEPREFIX
    WINEPREFIX=$("$source/scripts/wine-prefix.sh" "$1" "$build/wine/$1") || {
        echo "FAIL: could not create the $1 Wine prefix"
        exit 1
    }
    export WINEDLLOVERRIDES="mscoree,mshtml="
    cp "$build/Corvane.exe" "$e2e_out/"
    # A server left from a program run outside the virtual display would
    # keep every later window off it.
    timeout 30 wineserver -w
}

# The Z: drive maps the Unix root. (winepath would start a wineserver
# outside the virtual display, and every later program would join it.)
windows_path() { local p=$1; echo "Z:${p//\//\\}"; }

# Runs PROGRAM (a path under $e2e_out, Corvane.exe by default) and the
# observer side by side on one virtual display, in $e2e_out as the current
# directory. e2e_observer_options go to the observer; E2E_DLL_OVERRIDES
# (exported) adds Wine DLL overrides for Corvane alone.
e2e_run() {  # ANSWER SECONDS [PROGRAM]
    local answer=$1 seconds=$2 program=${3:-Corvane.exe}
    timeout $((seconds + 60)) xvfb-run -a -n "$e2e_display" -s "-screen 0 1024x768x24" bash -c '
        cd "$1"
        # The observer first, so that it sees the status window from the start.
        timeout "$3" wine "$2" "$4" "$5" "$3" $6 > observer.log 2> observer.err &
        observer=$!
        sleep 2
        WINEDLLOVERRIDES="$WINEDLLOVERRIDES${E2E_DLL_OVERRIDES:+;$E2E_DLL_OVERRIDES}" \
            WINEDEBUG=+debugstr,+process,+loaddll timeout "$3" wine "$7" > corvane.stdout 2> trace.log
        echo $? > corvane.rc
        wait $observer
        echo $? > observer.rc
        timeout 30 wineserver -w
    ' _ "$e2e_out" "$(windows_path "$build/tests/wine/observer.exe")" "$seconds" "$answer" \
        "$(windows_path "$e2e_out")" "${e2e_observer_options:-}" "$program"
    # Windows console output ends its lines with CR LF.
    sed -i 's/\r$//' "$e2e_out/observer.log"
    local bmp
    for bmp in "$e2e_out"/*.bmp; do
        [ -f "$bmp" ] && command -v /usr/bin/convert >/dev/null &&
            /usr/bin/convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
    done
    [ "$(cat "$e2e_out/observer.rc" 2>/dev/null)" = 0 ] ||
        fail "the observer did not see both windows: $(cat "$e2e_out/observer.err" 2>/dev/null)"
}

fail() { echo "FAIL: $*"; e2e_fail=1; }

expect_line() {  # EXACT-LINE (of the observer's output)
    grep -qxF -- "$1" "$e2e_out/observer.log" ||
        fail "expected the line: $1"$'\n'"      the observer saw:"$'\n'"$(cat "$e2e_out/observer.log")"
}

expect_exit_code() {
    local got
    got=$(cat "$e2e_out/corvane.rc" 2>/dev/null)
    [ "$got" = "$1" ] || fail "Corvane.exe exit code $got, expected $1"
}

expect_count() {  # PATTERN COUNT WHAT (in the Wine trace)
    local got
    got=$(grep -a -c -- "$1" "$e2e_out/trace.log")
    [ "$got" = "$2" ] || fail "$3: $got, expected $2"
}

corvane_thread() {  # Corvane's thread: the one that starts the first repair command
    grep -a -m1 'CreateProcessInternalW app .*cmdline L"cmd.exe /c reg delete' "$e2e_out/trace.log" |
        cut -d: -f1
}

# The programs Corvane itself started, in order, one "program|command line"
# line each, as Wine's process trace shows them; the program is empty where
# Windows took it from the command line.
started_by_corvane() {
    grep -a "^$(corvane_thread):trace:process:CreateProcessInternalW app " "$e2e_out/trace.log" |
        sed -E -e 's/^[0-9a-f]+:trace:process:CreateProcessInternalW app \(null\) cmdline L"(.*)"$/|\1/' \
            -e 's/^[0-9a-f]+:trace:process:CreateProcessInternalW app L"(.*)" cmdline L"(.*)"$/\1|\2/' |
        sed -e 's/\\"/"/g' -e 's/\\\\/\\/g'
}

# How many times a program was loaded from a directory of C:\windows, e.g.
# loaded_count 'syswow64\cmd.exe' (Wine's trace doubles every backslash).
loaded_count() {
    local doubled=${1//\\/\\\\}
    grep -a -i -c -F "Loaded L\"C:\\\\windows\\\\$doubled\"" "$e2e_out/trace.log"
}

expect_started() {  # FILE: its lines are the first programs started
    local got
    got=$(started_by_corvane | head -n "$(wc -l < "$1")")
    [ "$got" = "$(cat "$1")" ] ||
        fail "the programs started differ from $(basename "$1"):"$'\n'"$(diff "$1" <(echo "$got"))"
}

expect_in_order() {  # LINE... : each started, in this order
    local all line at=0 n
    all=$(started_by_corvane)
    for line in "$@"; do
        n=$(echo "$all" | grep -n -x -F -- "$line" | cut -d: -f1 | awk -v a="$at" '$1 > a' | head -1)
        [ -n "$n" ] || { fail "not started (in this order): $line"; return; }
        at=$n
    done
}

expect_not_started() {  # GREP-PATTERN (case-insensitive)
    local found
    found=$(started_by_corvane | grep -i -- "$1") && fail "started although it must not be: $found"
}

expect_logged() {  # RECORDER-COPY LINE-PART: the stand-in recorded such a start
    grep -q -F -- "$2" "$1.log" 2>/dev/null ||
        fail "$(basename "$1") did not record $2: $(cat "$1.log" 2>/dev/null)"
}

# The escalation after the first attempt (repairs, two more WMI requests)
# leaves no handle behind.
expect_no_handle_growth() {
    local first end
    first=$(sed -n 's/^handles.after-first-attempt=//p' "$e2e_out/observer.log")
    end=$(sed -n 's/^handles.end=//p' "$e2e_out/observer.log")
    [ "${first:-0}" -gt 0 ] && [ -n "$end" ] && [ "$end" -le "$first" ] ||
        fail "handles after the first attempt: ${first:-?}, at the final message: ${end:-?}"
}

e2e_finish() {
    echo "artifacts: $e2e_out"
    if [ "$e2e_fail" = 0 ]; then echo "PASS: $e2e_name"; exit 0; fi
    exit 1
}

# reg in the native (64-bit) view, with no wineserver left behind: the next
# run starts its own on the virtual display.
wine_reg() {
    WINEDEBUG=-all timeout 120 wine reg "$@" /reg:64 2>/dev/null | tr -d '\r'
    timeout 30 wineserver -w
}

# The creation frequency of restore points as reg prints its line, empty
# when absent. A fresh prefix lacks the key, which Windows always has.
restore_settings='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\SystemRestore'
frequency_value() {
    wine_reg query "$restore_settings" /v SystemRestorePointCreationFrequency | grep -a Frequency
}
prepare_frequency() {  # [DWORD]: planted, or else absent
    wine_reg add "$restore_settings" /f >/dev/null
    wine_reg delete "$restore_settings" /v SystemRestorePointCreationFrequency /f >/dev/null
    [ -n "${1:-}" ] && wine_reg add "$restore_settings" /v SystemRestorePointCreationFrequency \
        /t REG_DWORD /d "$1" /f >/dev/null
    frequency_before=$(frequency_value)
    [ -n "${1:-}" ] && [ -z "$frequency_before" ] && fail "could not plant the creation frequency"
}
# Every request set it and put it back: the same value, or still none.
expect_frequency_kept() {
    [ "$(frequency_value)" = "$frequency_before" ] ||
        fail "the creation frequency was '$frequency_before' before the run, '$(frequency_value)' after"
    ! grep -a 'CreationFrequency VB ERROR' "$e2e_out/trace.log" ||
        fail "the creation frequency could not be set or put back"
}
