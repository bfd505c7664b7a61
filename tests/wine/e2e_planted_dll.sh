#!/usr/bin/env bash
# End to end: a DLL planted beside Corvane.exe and in the current directory
# is never loaded. Corvane runs its whole course (every attempt, both
# repairs, the final message answered Cancel) with a copy of a test DLL,
# named after a DLL it loads at run time, in both places; the test DLL
# leaves a marker file when loaded.
#
# The name: uxtheme.dll, which is no known DLL, so it is looked for on the
# search path; it is loaded by name, for visual styles, when Corvane opens
# its first window, long after Corvane has started. DLLs loaded before Corvane's first line (the static
# imports and theirs, such as version.dll under Wine) are beyond any
# program's reach. Wine prefers its own builtin DLLs to a file found on the
# search path; the override below makes it take the file it finds, as
# Windows does. Wine searches the current directory only after System32, so
# there the planted copy would not be reached in any case: the copy beside
# the program is the one that proves the restriction.
#
#   e2e_planted_dll.sh ARCH BUILD_DIR SOURCE_DIR
set -uo pipefail
arch=$1 build=$(cd "$2" && pwd) source=$(cd "$3" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2e_lib.sh"

planted=uxtheme.dll
e2e_setup "$arch" planted-dll
# Corvane.exe in a folder of its own, the run's directory as the current one.
mkdir -p "$e2e_out/app"
mv "$e2e_out/Corvane.exe" "$e2e_out/app/"
cp "$build/tests/wine/planted.dll" "$e2e_out/app/$planted"
cp "$build/tests/wine/planted.dll" "$e2e_out/$planted"
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;${planted%.dll}=n,b"

e2e_run 2 120 app/Corvane.exe

expect_line "box.title=Tessaline"
expect_exit_code 1
# The scenario is only worth something while Corvane loads the DLL at all.
corvane_thread=$(grep -a -m1 'sysrestore_create' "$e2e_out/trace.log" | cut -d: -f1)
if ! grep -a "^$corvane_thread:trace:loaddll:" "$e2e_out/trace.log" | grep -q -i -F "\\\\$planted\""; then
    echo "FAIL: Corvane no longer loads $planted; plant a DLL that it does load"
    e2e_fail=1
fi
loaded=$(find "$e2e_out" -name "$planted.loaded")
if [ -n "$loaded" ]; then
    echo "FAIL: the planted $planted was loaded:"
    echo "$loaded" | sed 's/^/        /'
    grep -a "^$corvane_thread:trace:loaddll:.*$planted" "$e2e_out/trace.log" | sed 's/^/        /'
    e2e_fail=1
fi
e2e_finish
