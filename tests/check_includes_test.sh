#!/usr/bin/env bash
# The include check against a tree of its own that holds the project's table:
# allowed includes of every kind pass, and each forbidden one, in a header or
# a source file, fails with the file, the include and the rule's line.
#
#   check_includes_test.sh SOURCE_DIR
set -uo pipefail
source_dir=$(cd "$1" && pwd)
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
cd "$tree" && git init -q . || exit 2
mkdir -p scripts base workflow os/win32
cp "$source_dir/scripts/include-rules.txt" scripts/
include() {  # FILE LINE...: the file's includes
    local file=$1
    shift
    printf '#include %s\n' "$@" >"$file"
}
include base/fine.h '"os/os.h"' '"trace.h"' '<string>'
include workflow/winmain.cpp '<windows.h>' '"os/win32/startup.h"'
include os/win32/fine.cpp '<windows.h>' '"os/win32/handles.h"'
include base/bad.h '"os/os.h"' '"workflow/workflow.h"'
include base/bad.cpp '<windows.h>'
include workflow/bad.cpp '"os/win32/handles.h"'
git add -A

run() {  # EXPECTED-EXIT EXPECTED-OUTPUT
    local output code
    output=$(timeout 30 bash "$source_dir/scripts/check-includes.sh" "$tree" 2>&1)
    code=$?
    [ "$code" = "$1" ] && [ "$output" = "$2" ] && return 0
    printf 'FAIL: exit %s, expected %s; output:\n%s\nexpected:\n%s\n' "$code" "$1" "$output" "$2"
    exit 1
}
run 1 'FAIL: base/bad.cpp: #include <windows.h>: the rule "base/: base/ os/os.h" does not allow it
FAIL: base/bad.h: #include "workflow/workflow.h": the rule "base/: base/ os/os.h" does not allow it
FAIL: workflow/bad.cpp: #include "os/win32/handles.h": the rule "workflow/: workflow/ repairs/ restart/ status_window/ base/ os/os.h" does not allow it'
git rm -qf base/bad.h base/bad.cpp workflow/bad.cpp
run 0 'PASS: every include keeps to scripts/include-rules.txt'
echo "PASS: the include check passes what the table allows and names each include it forbids"
