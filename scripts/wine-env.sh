# Which Wine this machine can run, decided in one place; sourced by every
# script that starts Wine (bash).
#
# Wine runs 32-bit Windows programs with its 32-bit loader, which is a 32-bit
# Linux program. Some Linux kernels run none (their 32-bit emulation is off,
# and the loader fails with "Exec format error"), and Debian's wine wrapper
# always tries that loader first. There, only Wine's 64-bit half can run:
# the 64-bit build of Corvane stands in, in a 64-bit prefix, and the wine and
# wineserver commands are those of that half.
#
# CORVANE_WINE64=1 takes the 64-bit path on any machine.
#
# After sourcing:
#   corvane_wine_bits   32 where the 32-bit build runs, else 64
#   corvane_wine_why    why only the 64-bit build runs (empty where both run)
#   corvane_need_wine   fails, saying how to install them, without Wine and Xvfb

corvane_wine_bits=32
corvane_wine_why=
if [ -n "${CORVANE_WINE64:-}" ] && [ "$CORVANE_WINE64" != 0 ]; then
    corvane_wine_why="CORVANE_WINE64 is set"
elif [ -x /usr/lib/wine/wine ] && ! timeout 30 /usr/lib/wine/wine --version >/dev/null 2>&1; then
    # Only where the loader is installed and will not start: a machine
    # without Wine is told to install it, by the scripts and the tests.
    corvane_wine_why="this Linux runs no 32-bit programs (its 32-bit emulation is off)"
fi
if [ -n "$corvane_wine_why" ]; then
    corvane_wine_bits=64
    export PATH="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine64:$PATH"
    export WINELOADER=/usr/lib/wine/wine64
fi

corvane_need_wine() {
    command -v wine >/dev/null && command -v xvfb-run >/dev/null && return
    echo "FAIL: Wine and Xvfb are needed: run scripts/setup.sh (apt-get install wine wine32:i386 wine64 xvfb)"
    return 1
}
