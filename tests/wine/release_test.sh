#!/usr/bin/env bash
# scripts/release.sh, run on two copies of the sources in directories of
# different lengths, gives the same bytes twice for both programs, with no
# build time, stripped, with icon, version block and manifest, importing only
# the reviewed functions. The second copy is signed with a throwaway certificate: the
# signature verifies and removing it gives back the first copy's bytes (so
# the checks of one hold for both); a wrong password or a bad certificate
# file fails in one line.
#
#   release_test.sh SOURCE_DIR WORK_DIR
set -uo pipefail
source=$(cd "$1" && pwd) work=$2 key=$2/key
here=$(cd "$(dirname "$0")" && pwd)
fail=0
failed() { echo "FAIL: $*"; fail=1; }
# The commit time, as release.sh would take it; any fixed value will do
# when the sources are not a git checkout.
SOURCE_DATE_EPOCH=$(git -C "$source" log -1 --format=%ct 2>/dev/null) || SOURCE_DATE_EPOCH=1
export SOURCE_DATE_EPOCH
unset CORVANE_SIGN_PFX CORVANE_SIGN_PASSWORD_FILE CORVANE_SIGN_TIMESTAMP_URL

rm -rf "$work" && mkdir -p "$key"
echo test-password > "$key/password" && echo wrong > "$key/wrong" && echo not-a-certificate > "$key/bad.pfx"
{ timeout 60 openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=Corvane-test \
      -addext extendedKeyUsage=codeSigning -keyout "$key/key.pem" -out "$key/cert.pem" &&
  timeout 60 openssl pkcs12 -export -inkey "$key/key.pem" -in "$key/cert.pem" \
      -passout "file:$key/password" -out "$key/cert.pfx"; } >"$key/log" 2>&1 ||
    { failed "openssl could not make a test certificate:"; cat "$key/log"; exit 1; }
copies=("$work/one/src" "$work/second-copy/corvane-sources")
for copy in "${copies[@]}"; do
    mkdir -p "$copy"
    tar -C "$source" -c --exclude=./build --exclude=./dist --exclude=./.git . | tar -C "$copy" -x
    [ "$copy" = "${copies[1]}" ] && export CORVANE_SIGN_PFX=$key/cert.pfx CORVANE_SIGN_PASSWORD_FILE=$key/password
    timeout 600 "$copy/scripts/release.sh" > "$copy.log" 2>&1 ||
        { failed "scripts/release.sh failed in $copy:"; tail -n 20 "$copy.log"; exit 1; }
    (cd "$copy/dist" && sha256sum --check --status Corvane.exe.sha256 CorvaneCheck.exe.sha256 \
        Detect-CorvaneRestorePoint.ps1.sha256) || failed "$copy/dist: the .sha256 files do not check"
done
# The detection script, as written in the first copy, signed in the second.
script=Detect-CorvaneRestorePoint.ps1
cmp -s "${copies[0]}/dist/$script" "$source/deploy/$script" || failed "dist/$script is not deploy/$script"
timeout 60 osslsigncode verify -CAfile "$key/cert.pem" -in "${copies[1]}/dist/$script" > "$key/verify.log" 2>&1 ||
    failed "$script: the signature does not verify against the test certificate"
# Each program shipped: its execution level, imports list and subsystem.
for shipped in "Corvane asInvoker imports.txt 2" "CorvaneCheck requireAdministrator check-imports.txt 3"; do
    read -r name level imports subsystem <<<"$shipped"
    exe=${copies[0]}/dist/$name.exe signed=${copies[1]}/dist/$name.exe
    cmp -s "$exe" "${copies[1]}/build/release/$name.exe" || failed "two release builds of $name differ (artifacts: $work)"
    headers=$(TZ=UTC timeout 60 i686-w64-mingw32-objdump -p "$exe")
    grep -qE '^Time/Date[[:space:]]+Thu Jan  1 00:00:00 1970$' <<<"$headers" ||
        failed "$name: the PE header carries a build time: $(grep '^Time/Date' <<<"$headers")"
    timeout 60 i686-w64-mingw32-nm "$exe" 2>&1 | grep -q 'no symbols' || failed "$name: not stripped"
    # Resource types in the .rsrc root: 3 icon, 14 icon group.
    for type in 000003 00000e; do
        grep -qE "^[0-9a-f]+   Entry: ID: 0x$type," <<<"$headers" || failed "$name: resource type $type missing"
    done
    strings -el "$exe" | grep -qx "$name.exe" || failed "$name: the version block is missing"
    grep -aq "requestedExecutionLevel level=\"$level\"" "$exe" || failed "$name: the manifest is missing"
    bash "$here/check_imports.sh" "$exe" "$here/expected/$imports" "$subsystem" || fail=1

    timeout 60 osslsigncode verify -CAfile "$key/cert.pem" -in "$signed" > "$key/verify.log" 2>&1 ||
        failed "$name: the signature does not verify against the test certificate"
    # The check against the sources that the README gives.
    { timeout 60 osslsigncode remove-signature -in "$signed" -out "$work/$name.unsigned.exe" &&
      (cd "$work" && sha256sum --check --status "${signed%.exe}.unsigned.exe.sha256"); } >/dev/null 2>&1 &&
        cmp -s "$work/$name.unsigned.exe" "$exe" || failed "removing the signature does not give back $exe"
done
for case in "cert.pfx wrong" "bad.pfx password"; do
    read -r pfx pass <<<"$case"
    err=$(CORVANE_SIGN_PFX=$key/$pfx CORVANE_SIGN_PASSWORD_FILE=$key/$pass \
          timeout 120 "${copies[1]}/scripts/release.sh" 2>&1 >/dev/null) && failed "$case: release.sh did not fail"
    [ -n "$err" ] && [ "$(wc -l <<<"$err")" = 1 ] || failed "$case: not one line on stderr: $err"
    [ -z "$(ls -A "${copies[1]}/dist")" ] || failed "$case: files left in dist/"
done
[ "$fail" = 0 ] && echo "PASS: both programs reproducible, signed and checked, the detection script beside them"
exit $fail
