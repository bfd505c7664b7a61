#!/usr/bin/env bash
# Checks what a built Corvane.exe asks of Windows: the PE header says
# "Windows GUI, 5.01" (so XP SP3 loads it), and the imported functions are
# exactly the reviewed list, every one of which exists in XP SP3's system
# DLLs; a new import fails here until it is reviewed and added.
#
#   check_imports.sh EXE EXPECTED_LIST
set -uo pipefail
exe=$1 expected=$2
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
if ! headers=$(timeout 60 "$objdump" -p "$exe"); then
    echo "FAIL: $objdump could not read $exe (scripts/setup.sh installs it)"
    exit 1
fi
fail=0
got=$(awk '/^Subsystem|^M(aj|in)or(Subsystem|OSystem)Version/ { print $1, $2 }' <<<"$headers")
want=$'MajorOSystemVersion 5\nMinorOSystemVersion 1\nMajorSubsystemVersion 5\nMinorSubsystemVersion 1\nSubsystem 00000002'
if [ "$got" != "$want" ]; then
    echo "FAIL: the header is not Windows GUI 5.01:"$'\n'"$got"
    fail=1
fi
# One "dll!function" line per import (DLL names in lower case, as Windows
# compares them; "#n" for an import by ordinal).
imports=$(awk '
    /^\tDLL Name: / { dll = tolower($3); next }
    dll != "" && /^\t[0-9a-f]+\t/ { print dll "!" ($3 != "" ? $3 : "#" $2); next }
    /^[^\t]/ && !/^$/ { dll = "" }
' <<<"$headers" | LC_ALL=C sort -u)
reviewed=$(grep -v -e '^#' -e '^[[:space:]]*$' "$expected" | LC_ALL=C sort -u)
if [ -z "$imports" ] || [ "$imports" != "$reviewed" ]; then
    echo "FAIL: the imports differ from $(basename "$expected") (+ not reviewed, - no longer imported):"
    diff <(echo "$reviewed") <(echo "$imports") | grep -E '^[<>]' | sed -e 's/^</  -/' -e 's/^>/  +/'
    fail=1
fi
[ "$fail" = 0 ] && echo "PASS: Windows GUI 5.01, $(wc -l <<<"$imports") reviewed imports"
exit $fail
