#!/usr/bin/env bash
# Builds Corvane both ways and runs every test: the native unit tests
# against the simulated Windows, then the in-process Windows tests and the
# end-to-end tests under Wine in a 32-bit and a 64-bit prefix.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh || exit 1

status=0
for preset in native windows; do
    echo "== $preset build"
    cmake --preset "$preset" >/dev/null || exit 1
    cmake --build --preset "$preset" || exit 1
done
for preset in native windows; do
    echo "== $preset tests"
    ctest --preset "$preset" || status=1
done
exit $status
