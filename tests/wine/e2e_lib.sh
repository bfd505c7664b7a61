# Shared steps of the end-to-end tests: e2e_setup, e2e_run and the checks.
# The caller sets $source (the sources) and $build (the build to run).
. "$source/scripts/wine-env.sh"
e2e_fail=0
fail() { echo "FAIL: $*"; e2e_fail=1; }

e2e_setup() {  # ARCH NAME
    corvane_need_wine || exit 1
    # The two prefixes run side by side: each looks for a free display from
    # its own number up, so that two starts never race for the same one.
    e2e_display=$([ "$1" = win64 ] && echo 150 || echo 100)
    e2e_out=$build/e2e/$1-$2
    rm -rf "$e2e_out" && mkdir -p "$e2e_out" && cp "$build/Corvane.exe" "$e2e_out/"
    export WINEPREFIX WINEDLLOVERRIDES="mscoree,mshtml="
    WINEPREFIX=$("$source/scripts/wine-prefix.sh" "$1" "$build/wine/$1") ||
        { echo "FAIL: could not create the $1 Wine prefix"; exit 1; }
    # A server left from a program run outside the virtual display would
    # keep every later window off it.
    timeout 30 wineserver -w
}

# Runs PROGRAM (Corvane.exe by default) under Wine, traced, on a virtual
# display with $e2e_out as the current directory. Unless ANSWER is empty, the
# observer runs beside it, gets e2e_observer_options and answers the final
# message with that button. E2E_DLL_OVERRIDES (exported) is for PROGRAM alone.
# With e2e_second=N the same program starts again N seconds after the first
# (second.rc, second.log); second.first says whether the first still ran
# when the second ended.
e2e_run() {  # ANSWER SECONDS [PROGRAM [ARGUMENT...]]
    local options=${1:+$1 $2 ${e2e_observer_options:-}} seconds=$2 bmp
    local observer=$build/tests/wine/observer.exe
    shift 2
    # The Z: drive maps the Unix root (winepath would start a wineserver
    # outside the virtual display, and every later program would join it).
    timeout $((seconds + 60)) xvfb-run -a -n "$e2e_display" -s "-screen 0 1024x768x24" bash -c '
        cd "$1" && seconds=$2 observer=$3 options=$4 second=$5 && shift 5
        # The observer first, so that it sees the status window from the start.
        if [ -n "$options" ]; then
            timeout "$seconds" wine "$observer" $options > observer.log 2> observer.err &
            watching=$!
            sleep 2
        fi
        WINEDLLOVERRIDES="$WINEDLLOVERRIDES${E2E_DLL_OVERRIDES:+;$E2E_DLL_OVERRIDES}" \
            WINEDEBUG=+debugstr,+process,+loaddll,+commctrl timeout "$seconds" wine "$@" \
            > corvane.stdout 2> trace.log &
        running=$!
        if [ -n "$second" ]; then
            sleep "$second"
            WINEDEBUG=+debugstr,+process timeout 60 wine "$@" > second.stdout 2> second.log
            echo $? > second.rc
            kill -0 $running 2>/dev/null && echo yes > second.first || echo no > second.first
        fi
        wait $running
        echo $? > corvane.rc
        if [ -n "$options" ]; then
            wait $watching
            echo $? > observer.rc
        fi
        timeout 30 wineserver -w
    ' _ "$e2e_out" "$seconds" "Z:${observer//\//\\}" "$options" "${e2e_second:-}" "${@:-Corvane.exe}"
    [ -n "$options" ] || return
    sed -i 's/\r$//' "$e2e_out/observer.log"  # Windows console lines end in CR LF
    for bmp in "$e2e_out"/*.bmp; do
        command -v /usr/bin/convert >/dev/null && /usr/bin/convert "$bmp" "${bmp%.bmp}.png" && rm "$bmp"
    done
    [ "$(cat "$e2e_out/observer.rc")" = 0 ] ||
        fail "the observer did not see both windows: $(cat "$e2e_out/observer.err")"
}

expect_line() {  # EXACT-LINE (of the observer's output)
    grep -qxF -- "$1" "$e2e_out/observer.log" ||
        fail "expected the line: $1"$'\n'"      the observer saw:"$'\n'"$(cat "$e2e_out/observer.log")"
}

# Corvane made its three restore-point attempts and exited with CODE.
expect_end() {  # CODE
    local got
    got="$(grep -a -c sysrestore_create "$e2e_out/trace.log") attempts, exit code $(cat "$e2e_out/corvane.rc")"
    [ "$got" = "3 attempts, exit code $1" ] || fail "$got, expected 3 attempts, exit code $1"
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

expect_started() {  # FILE: its lines (but # comments) are the first programs started
    local differ
    differ=$(diff <(grep -v '^#' "$1") <(started_by_corvane | head -n "$(grep -c -v '^#' "$1")")) ||
        fail "the programs started differ from $(basename "$1"):"$'\n'"$differ"
}

expect_in_order() {  # LINE...: each started, in this order
    local missing
    missing=$(started_by_corvane | awk 'BEGIN { for (n = 1; n < ARGC; n++) want[n] = ARGV[n]; ARGC = n = 1 }
        $0 == want[n] { n++ } END { print want[n] }' "$@")
    [ -z "$missing" ] || fail "not started (in this order): $missing"
}

expect_not_started() {  # GREP-PATTERN (case-insensitive)
    ! started_by_corvane | grep -i -- "$1" || fail "started although it must not be (above)"
}
