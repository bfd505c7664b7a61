#!/usr/bin/env bash
# Builds Corvane.exe and runs it under Wine (64-bit prefix), printing the
# debugger trace and the command lines it starts.
#
# With a display ($DISPLAY set) you see the windows and answer the final
# message yourself. Without one, Corvane runs on a virtual display, a
# screenshot of each window is saved, and the message is answered Cancel.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh || exit 1
cmake --preset windows >/dev/null && cmake --build --preset windows --target Corvane observer || exit 1

build=$PWD/build/windows
out=$build/run
mkdir -p "$out"
export WINEPREFIX
WINEPREFIX=$(scripts/wine-prefix.sh win64 "$build/wine/win64") || exit 1
export WINEDLLOVERRIDES="mscoree,mshtml="

show_trace() {
    # The debugger output and the command lines of the started programs.
    grep -a -E 'OutputDebugString|CreateProcessInternalW' "$1" |
        sed -E 's/^.*OutputDebugStringA? /trace: /; s/^.*CreateProcessInternalW /start: /'
}

if [ -n "${DISPLAY:-}" ]; then
    WINEDEBUG=+debugstr,+process wine "$build/Corvane.exe" 2> "$out/trace.log"
    rc=$?
else
    source=$PWD
    . tests/wine/e2e_lib.sh
    e2e_setup win64 run
    e2e_run 2 300
    out=$e2e_out
    rc=$(cat "$out/corvane.rc")
    cat "$out/observer.log"
    echo "screenshots: $(ls "$out"/*.png 2>/dev/null | tr '\n' ' ')"
fi
show_trace "$out/trace.log"
echo "Corvane.exe exit code: $rc"
