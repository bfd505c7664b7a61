#!/usr/bin/env bash
# Checks what a built program asks of Windows: the PE header says "Windows
# GUI (or console), 5.01" (so XP SP3 loads it), and the imported functions are
# exactly the reviewed list, every one of which exists in XP SP3's system
# DLLs; a new import fails here until it is reviewed and added.
#
#   check_imports.sh EXE EXPECTED_LIST [SUBSYSTEM]   (2 GUI, the default; 3 console)
set -uo pipefail
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
headers=$(timeout 60 "$objdump" -p "$1") ||
    { echo "FAIL: $objdump could not read $1 (scripts/setup.sh installs it)"; exit 1; }
# The header's fields, then one "dll!function" line per import (DLL names in
# lower case, as Windows compares them; "#n" for an import by ordinal).
got=$(awk '
    /^Subsystem|^M(aj|in)or(Subsystem|OSystem)Version/ { print $1, $2 }
    /^\tDLL Name: / { dll = tolower($3); next }
    dll != "" && /^\t[0-9a-f]+\t/ { print dll "!" ($3 != "" ? $3 : "#" $2); next }
    /^[^\t]/ && !/^$/ { dll = "" }
' <<<"$headers" | LC_ALL=C sort -u)
want=$({ printf '%s\n' 'MajorOSystemVersion 5' 'MinorOSystemVersion 1' 'MajorSubsystemVersion 5' \
             'MinorSubsystemVersion 1' "Subsystem 0000000${3:-2}"
         grep -v -e '^#' -e '^[[:space:]]*$' "$2"; } | LC_ALL=C sort -u)
if [ "$got" != "$want" ]; then
    echo "FAIL: not subsystem ${3:-2}, 5.01, with the imports of $(basename "$2") (+ found, - expected):"
    diff <(echo "$want") <(echo "$got") | grep -E '^[<>]' | sed -e 's/^</  -/' -e 's/^>/  +/'
    exit 1
fi
echo "PASS: subsystem ${3:-2}, 5.01, $(grep -c '!' <<<"$got") reviewed imports"
