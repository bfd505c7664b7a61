#!/usr/bin/env bash
# The launcher benchmark under Wine, on the build this machine can run: the
# 32-bit one in the 32-bit prefix, or where Linux runs no 32-bit programs
# the 64-bit one in the 64-bit prefix (scripts/wine-env.sh). It says which.
#   scripts/launcher-bench.sh [RUNS]   (30 by default)
set -uo pipefail
cd "$(dirname "$0")/.."
. scripts/wine-env.sh
preset=windows arch=win32
[ "$corvane_wine_bits" = 32 ] || preset=windows64 arch=win64
echo "launcher benchmark: the $corvane_wine_bits-bit build in the $arch prefix${corvane_wine_why:+ ($corvane_wine_why)}"
cmake --preset $preset >/dev/null && cmake --build --preset $preset --target launcher_bench || exit 1
scripts/wine-run.sh $arch "$PWD/build/$preset" "build/$preset/launcher_bench.exe" "${1:-30}"
