#!/usr/bin/env bash
# Builds the Corvane.exe that is shipped: dist/Corvane.exe, stripped, with
# its version block, icon and manifest, and dist/Corvane.exe.sha256.
# Reproducible: two builds of the same commit give the same bytes, so anyone
# can check a shipped file against the sources.
set -euo pipefail
cd "$(dirname "$0")/.."

for tool in cmake ninja i686-w64-mingw32-g++-posix sha256sum; do
    if ! command -v "$tool" >/dev/null; then
        echo "release: $tool is missing; run scripts/setup.sh as root to install it" >&2
        exit 1
    fi
done

# Only this checkout's own history counts, not that of a repository the
# sources happen to sit in.
checkout=false
if top=$(git rev-parse --show-toplevel 2>/dev/null) && [ "$top" -ef . ]; then checkout=true; fi

# Anything that stamps a date takes the commit's, never the clock's.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    if ! $checkout; then
        echo "release: not a git checkout; set SOURCE_DATE_EPOCH (seconds since 1970)" >&2
        exit 1
    fi
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
fi
export SOURCE_DATE_EPOCH
if $checkout && [ -n "$(git status --porcelain)" ]; then
    echo "release: warning: uncommitted changes; this build matches no commit" >&2
fi

# From scratch, so that nothing left over from an earlier build gets in.
rm -rf build/release
cmake --preset release >/dev/null
cmake --build --preset release --target Corvane

mkdir -p dist
rm -f dist/Corvane.exe dist/Corvane.exe.sha256
cp build/release/Corvane.exe dist/Corvane.exe
(cd dist && sha256sum Corvane.exe > Corvane.exe.sha256)
echo "dist/Corvane.exe: $(stat -c %s dist/Corvane.exe) bytes, sha256 $(cut -d' ' -f1 dist/Corvane.exe.sha256)"
