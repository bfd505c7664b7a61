#!/usr/bin/env bash
# Builds Corvane.exe and runs it under Wine (64-bit prefix), then prints the
# debugger trace and the command lines it started.
#
# With a display ($DISPLAY set) you see the windows and answer the final
# message yourself. Without one, Corvane runs on a virtual display, a
# screenshot of each window is saved, and the message is answered Cancel.
#
# Where Linux runs no 32-bit programs (or CORVANE_WINE64=1; see
# scripts/wine-env.sh), what runs is the 64-bit build of the same sources,
# with Wine's 64-bit half, not the 32-bit Corvane.exe that is shipped; the
# first and the last line say so.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh || exit 1
. scripts/wine-env.sh
preset=windows stand_in=
if [ "$corvane_wine_bits" = 64 ]; then
    preset=windows64
    stand_in="$corvane_wine_why: this runs the 64-bit build of Corvane, not the 32-bit Corvane.exe that is shipped"
    echo "$stand_in"
fi
cmake --preset $preset >/dev/null && cmake --build --preset $preset || exit 1

source=$PWD
build=$PWD/build/$preset
. tests/wine/e2e_lib.sh
e2e_setup win64 run

if [ -n "${DISPLAY:-}" ]; then
    (cd "$e2e_out" && WINEDEBUG=+debugstr,+process wine Corvane.exe 2> trace.log)
    rc=$?
else
    e2e_run 2 600
    rc=$(cat "$e2e_out/corvane.rc")
    echo "What the windows showed:"
    grep -E '^(status\.(caption|label)|box\.(title|text))=' "$e2e_out/observer.log" |
        sed -e 's/^/  /' -e 's/\\r\\n/\n      /g'
    echo "screenshots: $(ls "$e2e_out"/*.png 2>/dev/null | tr '\n' ' ')"
fi

echo "Debugger trace:"
grep -a 'OutputDebugString' "$e2e_out/trace.log" |
    sed -E -e 's/^.*OutputDebugStringA? "(.*)"$/  \1/' -e 's/\\t/    /g' -e 's/\\\\/\\/g'
echo "Programs started (program|command line):"
started_by_corvane | sed 's/^/  /'
echo "Corvane.exe exit code: $rc"
[ -z "$stand_in" ] || echo "$stand_in"
