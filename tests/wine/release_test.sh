#!/usr/bin/env bash
# The release build: scripts/release.sh, run on two copies of the sources in
# directories of different lengths, gives the same bytes twice; the result
# carries no build time, is stripped, keeps its icon, version block and
# manifest, and imports only the reviewed functions.
#
#   release_test.sh SOURCE_DIR WORK_DIR
set -uo pipefail
source=$(cd "$1" && pwd) work=$2
here=$(cd "$(dirname "$0")" && pwd)
fail=0
failed() { echo "FAIL: $*"; fail=1; }
# The commit time, as release.sh would take it; any fixed value will do
# when the sources are not a git checkout.
SOURCE_DATE_EPOCH=$(git -C "$source" log -1 --format=%ct 2>/dev/null) || SOURCE_DATE_EPOCH=1
export SOURCE_DATE_EPOCH

rm -rf "$work" && mkdir -p "$work"
copies=("$work/one/src" "$work/second-copy/corvane-sources")
for copy in "${copies[@]}"; do
    mkdir -p "$copy"
    tar -C "$source" -c --exclude=./build --exclude=./dist --exclude=./.git . | tar -C "$copy" -x
    timeout 600 "$copy/scripts/release.sh" > "$copy.log" 2>&1 ||
        { failed "scripts/release.sh failed in $copy:"; tail -n 20 "$copy.log"; exit 1; }
done
exe=${copies[0]}/dist/Corvane.exe
cmp -s "$exe" "${copies[1]}/dist/Corvane.exe" || failed "two release builds differ (artifacts: $work)"
(cd "$(dirname "$exe")" && sha256sum --check --status Corvane.exe.sha256) ||
    failed "dist/Corvane.exe.sha256 does not check"

headers=$(TZ=UTC timeout 60 i686-w64-mingw32-objdump -p "$exe")
grep -qE '^Time/Date[[:space:]]+Thu Jan  1 00:00:00 1970$' <<<"$headers" ||
    failed "the PE header carries a build time: $(grep '^Time/Date' <<<"$headers")"
timeout 60 i686-w64-mingw32-nm "$exe" 2>&1 | grep -q 'no symbols' || failed "not stripped"
# Resource types in the .rsrc root: 3 icon, 14 icon group, 16 version, 24 manifest.
for type in 000003 00000e 000010 000018; do
    grep -qE "^[0-9a-f]+   Entry: ID: 0x$type," <<<"$headers" || failed "resource type $type missing"
done
strings -el "$exe" | grep -qx 'Corvane.exe' || failed "the version block is missing"
grep -aq 'requestedExecutionLevel level="asInvoker"' "$exe" || failed "the manifest is missing"
bash "$here/check_imports.sh" "$exe" "$here/expected/imports.txt" || fail=1
[ "$fail" = 0 ] && echo "PASS: reproducible, $(stat -c %s "$exe") bytes, $(cut -d' ' -f1 "$exe.sha256")"
exit $fail
