#!/usr/bin/env bash
# Holds the code map: every #include of the program's sources, the check's
# and the tests' is checked against scripts/include-rules.txt. One line per
# include that crosses a forbidden edge, naming the file, the include and
# the rule; exit code 1 then.
#
#   check-includes.sh [SOURCE_DIR]
set -uo pipefail
cd "${1:-$(dirname "$0")/..}" || exit 2
rules=scripts/include-rules.txt
git ls-files -- '*.cpp' '*.h' 2>/dev/null | grep . >/dev/null || { echo "FAIL: not a git checkout"; exit 2; }
git ls-files -- '*.cpp' '*.h' | awk -v rules="$rules" '
    BEGIN {
        while ((getline line < rules) > 0) {
            if (line ~ /^[[:space:]]*(#|$)/) continue
            n = split(line, field, /[[:space:]]+/)
            names[++count] = field[1]
            allowed[field[1]] = ""
            for (i = 2; i <= n; i++) allowed[field[1]] = allowed[field[1]] " " field[i]
        }
    }
    # The most specific rule: the longest name that is the file or a folder above it.
    function rule_of(file,    i, best) {
        best = ""
        for (i = 1; i <= count; i++)
            if ((file == names[i] || (names[i] ~ /\/$/ && index(file, names[i]) == 1)) &&
                length(names[i]) > length(best))
                best = names[i]
        return best
    }
    function may(rule, include,    n, i, item, kind) {
        n = split(allowed[rule], item, " ")
        if (include ~ /^</) {
            if (include !~ /[.\/]/) return 1  # the standard library
            kind = include ~ /^<gtest\// ? "<gtest>" : include ~ /^<benchmark\// ? "<benchmark>" : "<windows>"
            for (i = 1; i <= n; i++) if (item[i] == kind) return 1
            return 0
        }
        if (include !~ /\//) return 1  # beside the file, in its own room
        for (i = 1; i <= n; i++)
            if (include == item[i] || (item[i] ~ /\/$/ && index(include, item[i]) == 1)) return 1
        return 0
    }
    {
        file = $0
        rule = rule_of(file)
        while ((getline line < file) > 0) {
            if (line !~ /^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]/) continue
            match(line, /[<"][^>"]*[>"]/)
            shown = substr(line, RSTART, RLENGTH)
            include = shown ~ /^</ ? substr(shown, 1, RLENGTH - 1) : substr(shown, 2, RLENGTH - 2)
            if (rule == "") { print "FAIL: " file ": #include " shown ": no rule names this file in " rules; bad = 1; continue }
            if (!may(rule, include)) {
                print "FAIL: " file ": #include " shown ": the rule \"" rule ":" allowed[rule] "\" does not allow it"
                bad = 1
            }
        }
        close(file)
    }
    END { if (!bad) print "PASS: every include keeps to " rules; exit bad }'
