#!/usr/bin/env bash
# Builds Corvane both ways and runs every test: the native unit tests
# against the simulated Windows, then the in-process Windows tests and the
# end-to-end tests under Wine in a 32-bit and a 64-bit prefix.
#
# Where Linux runs no 32-bit programs (or CORVANE_WINE64=1; see
# scripts/wine-env.sh), the Windows tests run on the 64-bit build in the
# 64-bit prefix instead, and what only a 32-bit process shows is reported
# as skipped; the 32-bit build is still built and checked (imports, release).
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh || exit 1
. scripts/wine-env.sh

presets=(native windows)
if [ "$corvane_wine_bits" = 64 ]; then
    echo "== $corvane_wine_why: the Windows tests run on the 64-bit build, in a 64-bit prefix"
    presets+=(windows64)
fi
status=0
for preset in "${presets[@]}"; do
    echo "== $preset build"
    cmake --preset "$preset" >/dev/null || exit 1
    # Where the 64-bit build runs the Windows tests, the 32-bit one is only
    # checked for its imports and its release: its two programs suffice.
    targets=()
    [ "$preset" = windows ] && [ "$corvane_wine_bits" = 64 ] && targets=(--target Corvane CorvaneCheck)
    cmake --build --preset "$preset" "${targets[@]}" || exit 1
done
echo "== native tests"
ctest --preset native || status=1
if [ "$corvane_wine_bits" = 64 ]; then
    # The 32-bit build's checks (imports, release) need no Wine: they run
    # beside the Windows tests, as they do within one ctest on the 32-bit path.
    ctest --preset windows > build/windows/checks.log 2>&1 &
    checks=$!
    echo "== windows64 tests"
    ctest --preset windows64 || status=1
    wait "$checks" || status=1
    echo "== windows tests"
    cat build/windows/checks.log
else
    echo "== windows tests"
    ctest --preset windows || status=1
fi
if [ "$corvane_wine_bits" = 64 ]; then
    echo "== skipped on the 64-bit build, and why"
    # Each skipped test's own words, from ctest's log of the run.
    awk '/^[0-9]+\/[0-9]+ Test: / { name = $3 }
         /^skipped: / { sub(/^skipped: /, ""); print "  " name ": " $0 }
         /: Skipped$/ { getline why; print "  " name ": " why }' \
        build/windows64/Testing/Temporary/LastTest.log
fi
exit $status
