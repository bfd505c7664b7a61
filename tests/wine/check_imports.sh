#!/usr/bin/env bash
# Checks what a built Corvane.exe asks of Windows: the PE header says
# "Windows GUI, 5.01" (so XP SP3 loads it), and the imported functions are
# exactly the reviewed list. Every function on that list exists in the
# system DLLs of XP SP3, and every DLL on it is one Windows loads from its
# system directory; a new import fails here until it is reviewed and added.
#
#   check_imports.sh EXE EXPECTED_LIST
set -uo pipefail
exe=$1 expected=$2
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
if ! command -v "$objdump" >/dev/null; then
    echo "FAIL: $objdump is needed: run scripts/setup.sh (apt-get install binutils-mingw-w64-i686)"
    exit 1
fi
if ! headers=$(timeout 60 "$objdump" -p "$exe"); then
    echo "FAIL: $objdump could not read $exe"
    exit 1
fi

fail=0
field() { awk -v key="$1" '$1 == key { print $2; exit }' <<<"$headers"; }
expect_field() {  # KEY VALUE
    local got
    got=$(field "$1")
    if [ "$got" != "$2" ]; then
        echo "FAIL: $1 is ${got:-missing}, expected $2"
        fail=1
    fi
}
if ! grep -qE '^Subsystem[[:space:]]+00000002[[:space:]]+\(Windows GUI\)' <<<"$headers"; then
    echo "FAIL: the subsystem is not Windows GUI: $(grep '^Subsystem' <<<"$headers")"
    fail=1
fi
expect_field MajorSubsystemVersion 5
expect_field MinorSubsystemVersion 1
expect_field MajorOSystemVersion 5
expect_field MinorOSystemVersion 1

# One "dll!function" line per import (DLL names in lower case, as Windows
# compares them; "#n" for an import by ordinal).
imports=$(awk '
    /^\tDLL Name: / { dll = tolower($3); next }
    dll != "" && /^\t[0-9a-f]+\t/ { print dll "!" ($3 != "" ? $3 : "#" $2); next }
    /^$/ { next }
    /^[^\t]/ { dll = "" }
' <<<"$headers" | LC_ALL=C sort -u)
if [ -z "$imports" ]; then
    echo "FAIL: no imports found in $exe (has the objdump output changed?)"
    exit 1
fi
reviewed=$(grep -v -e '^#' -e '^[[:space:]]*$' "$expected" | LC_ALL=C sort -u)
if [ "$imports" != "$reviewed" ]; then
    echo "FAIL: the imports of $(basename "$exe") differ from the reviewed list $(basename "$expected")"
    echo "      (+ imported but not reviewed, - reviewed but no longer imported):"
    diff <(sed '/^$/d' <<<"$reviewed") <(echo "$imports") | grep -E '^[<>]' |
        sed -e 's/^</        -/' -e 's/^>/        +/'
    fail=1
fi

if [ "$fail" = 0 ]; then
    echo "PASS: $(basename "$exe"): Windows GUI 5.01, $(wc -l <<<"$imports") reviewed imports"
fi
exit $fail
