#!/usr/bin/env bash
# The release build: scripts/release.sh, run on two copies of the sources in
# different directories, gives the same bytes twice; the result is stripped,
# still carries its icon, version block and manifest, and imports only the
# reviewed functions.
#
#   release_test.sh SOURCE_DIR WORK_DIR
set -uo pipefail
source=$(cd "$1" && pwd) work=$2
here=$(cd "$(dirname "$0")" && pwd)
objdump=i686-w64-mingw32-objdump
fail=0
failed() { echo "FAIL: $*"; fail=1; }

# The commit time, as release.sh would take it; any fixed value will do
# when the sources are not a git checkout.
SOURCE_DATE_EPOCH=$(git -C "$source" log -1 --format=%ct 2>/dev/null) || SOURCE_DATE_EPOCH=1
export SOURCE_DATE_EPOCH

rm -rf "$work" && mkdir -p "$work"
# Two places whose paths differ in length too, so that a path that leaks
# into the executable shifts everything after it.
copies=("$work/one/src" "$work/second-copy/corvane-sources")
for copy in "${copies[@]}"; do
    mkdir -p "$copy"
    tar -C "$source" -c --exclude=./build --exclude=./dist --exclude=./.git . | tar -C "$copy" -x
    if ! timeout 600 "$copy/scripts/release.sh" > "$copy.log" 2>&1; then
        echo "FAIL: scripts/release.sh failed in $copy:"
        tail -n 20 "$copy.log" | sed 's/^/        /'
        exit 1
    fi
done
exe=${copies[0]}/dist/Corvane.exe other=${copies[1]}/dist/Corvane.exe

if ! cmp -s "$exe" "$other"; then
    failed "two release builds of the same sources differ ($(cmp -l "$exe" "$other" 2>&1 | wc -l) bytes; artifacts: $work)"
fi
if ! cmp -s "$exe.sha256" "$other.sha256"; then failed "the two checksum files differ"; fi
if ! (cd "$(dirname "$exe")" && sha256sum --check --status Corvane.exe.sha256); then
    failed "dist/Corvane.exe.sha256 does not check: $(cat "$exe.sha256")"
fi

headers=$(TZ=UTC timeout 60 "$objdump" -p "$exe")
# Two builds in the same second would hide a link time; look for it.
if ! grep -qE '^Time/Date[[:space:]]+Thu Jan  1 00:00:00 1970$' <<<"$headers"; then
    failed "the PE header carries a build time: $(grep '^Time/Date' <<<"$headers")"
fi
if ! timeout 60 i686-w64-mingw32-nm "$exe" 2>&1 | grep -q 'no symbols'; then
    failed "dist/Corvane.exe is not stripped"
fi

# Resource types in the .rsrc root: 3 icon, 14 icon group, 16 version, 24 manifest.
for type in 000003:icon 00000e:icon-group 000010:version 000018:manifest; do
    if ! grep -qE "^[0-9a-f]+   Entry: ID: 0x${type%%:*}," <<<"$headers"; then
        failed "the ${type#*:} resource is missing"
    fi
done
if ! strings -el "$exe" | grep -qx 'Corvane.exe'; then
    failed "the version block's original file name is missing"
fi
if ! grep -aq 'requestedExecutionLevel level="asInvoker"' "$exe"; then
    failed "the application manifest is missing"
fi

bash "$here/check_imports.sh" "$exe" "$here/expected/imports.txt" || fail=1

if [ "$fail" = 0 ]; then
    echo "PASS: release build reproducible, $(stat -c %s "$exe") bytes, $(cut -d' ' -f1 "$exe.sha256")"
fi
exit $fail
