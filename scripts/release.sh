#!/usr/bin/env bash
# Builds the programs that are shipped: dist/Corvane.exe and, beside it, the
# check testers run on a real Windows, dist/CorvaneCheck.exe; each stripped,
# with its version block, icon and manifest, and its own .sha256. The
# deployment tools' detection script, dist/Detect-CorvaneRestorePoint.ps1,
# goes with them, with its .sha256.
# Reproducible: two builds of the same commit give the same bytes, so anyone
# can check a shipped file against the sources.
#
# Signed with Authenticode (SHA-256 digest) when given a certificate:
#   CORVANE_SIGN_PFX            the PKCS#12 file with the key and certificate
#   CORVANE_SIGN_PASSWORD_FILE  a file holding its password
#   CORVANE_SIGN_TIMESTAMP_URL  an RFC 3161 timestamp server (optional)
# A signed release also has dist/Corvane.unsigned.exe.sha256 (and likewise
# for the check), the hash of the bytes the build gave; removing the
# signature gives them back exactly. The script is signed too, as PowerShell
# checks it (a signature block at its end).
set -euo pipefail
cd "$(dirname "$0")/.."

fail() { echo "release: $*" >&2; exit 1; }

# What an earlier run left goes first, and a run that stops half-way leaves
# nothing: a file in dist/ is always one that a whole run made.
programs=(Corvane CorvaneCheck)
outputs=()
for program in "${programs[@]}"; do
    outputs+=(dist/$program.exe dist/$program.exe.sha256 dist/$program.unsigned.exe.sha256)
done
script=Detect-CorvaneRestorePoint.ps1
outputs+=(dist/$script dist/$script.sha256)
rm -f "${outputs[@]}"
tmp=$(mktemp -d)
finished=false
trap 'rm -rf "$tmp"; $finished || rm -f "${outputs[@]}"' EXIT

signing=false
tools=(cmake ninja i686-w64-mingw32-g++-posix sha256sum)
if [ -n "${CORVANE_SIGN_PFX:-}" ]; then signing=true; tools+=(osslsigncode openssl); fi
for tool in "${tools[@]}"; do
    command -v "$tool" >/dev/null || fail "$tool is missing; run scripts/setup.sh as root to install it"
done

# The certificate is read before the build, so that a wrong password costs
# no build. Passwords go by file only: a command line is visible in ps.
if $signing; then
    pfx=$CORVANE_SIGN_PFX pass=${CORVANE_SIGN_PASSWORD_FILE:-}
    [ -n "$pass" ] || fail "CORVANE_SIGN_PFX is set but CORVANE_SIGN_PASSWORD_FILE is not"
    [ -r "$pfx" ] || fail "cannot read the certificate file $pfx"
    [ -r "$pass" ] || fail "cannot read the password file $pass"
    # -legacy: files exported by older tools use ciphers OpenSSL 3 no longer
    # loads by default. Only the certificates come out, never the key.
    if ! openssl pkcs12 -legacy -in "$pfx" -passin "file:$pass" -nokeys -out "$tmp/certs.pem" \
            >"$tmp/openssl.log" 2>&1; then
        grep -q 'invalid password' "$tmp/openssl.log" && fail "wrong password for $pfx (in $pass)"
        fail "$pfx is not a PKCS#12 certificate file"
    fi
fi

# Only this checkout's own history counts, not that of a repository the
# sources happen to sit in.
checkout=false
if top=$(git rev-parse --show-toplevel 2>/dev/null) && [ "$top" -ef . ]; then checkout=true; fi

# Anything that stamps a date takes the commit's, never the clock's.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    $checkout || fail "not a git checkout; set SOURCE_DATE_EPOCH (seconds since 1970)"
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
fi
export SOURCE_DATE_EPOCH
if $checkout && [ -n "$(git status --porcelain)" ]; then
    echo "release: warning: uncommitted changes; this build matches no commit" >&2
fi

# From scratch, so that nothing left over from an earlier build gets in.
rm -rf build/release
cmake --preset release >/dev/null
cmake --build --preset release --target "${programs[@]}"

# Signed into a temporary file, which reaches dist/ only once checked.
sign() {  # PROGRAM: build/release/PROGRAM.exe, signed as $tmp/PROGRAM.exe
    local unsigned=build/release/$1.exe signed=$tmp/$1.exe
    if ! timeout 300 osslsigncode sign -pkcs12 "$pfx" -readpass "$pass" -h sha256 "${timestamp[@]}" \
            -in "$unsigned" -out "$signed" >"$tmp/sign.log" 2>&1; then
        echo "release: osslsigncode could not sign $unsigned:" >&2
        cat "$tmp/sign.log" >&2
        exit 1
    fi
    # Checked against the certificate's own chain, or the system's roots
    # when the chain ends in a public one. This checks the signature, offline:
    # no revocation lists are fetched (osslsigncode 2.6 and later would).
    if ! timeout 60 osslsigncode verify -CAfile "$tmp/trusted.pem" "${offline[@]}" -in "$signed" \
            >"$tmp/verify.log" 2>&1; then
        echo "release: the signed $1.exe does not verify against the certificate in $pfx:" >&2
        grep -E '^\s*Error:' "$tmp/verify.log" | sort -u >&2
        exit 1
    fi
    # This is how a signed release is checked against the sources. It holds
    # because the stripped build ends on its 512-byte file alignment (no
    # padding is added before the signature) and its PE checksum is right.
    timeout 60 osslsigncode remove-signature -in "$signed" -out "$tmp/$1.removed.exe" \
            >"$tmp/remove.log" 2>&1 && cmp -s "$tmp/$1.removed.exe" "$unsigned" ||
        fail "removing the signature from $1.exe does not give back the unsigned bytes"
}

if $signing; then
    timestamp=()
    if [ -n "${CORVANE_SIGN_TIMESTAMP_URL:-}" ]; then timestamp=(-ts "$CORVANE_SIGN_TIMESTAMP_URL"); fi
    cat "$tmp/certs.pem" > "$tmp/trusted.pem"
    if [ -r /etc/ssl/certs/ca-certificates.crt ]; then cat /etc/ssl/certs/ca-certificates.crt >> "$tmp/trusted.pem"; fi
    offline=()
    if [[ $(osslsigncode verify --help 2>&1 || true) == *-ignore-crl* ]]; then offline=(-ignore-crl); fi
    for program in "${programs[@]}"; do sign "$program"; done
    if ! timeout 300 osslsigncode sign -pkcs12 "$pfx" -readpass "$pass" -h sha256 "${timestamp[@]}" \
            -in "deploy/$script" -out "$tmp/$script" >"$tmp/sign.log" 2>&1 ||
        ! timeout 60 osslsigncode verify -CAfile "$tmp/trusted.pem" "${offline[@]}" -in "$tmp/$script" \
            >"$tmp/verify.log" 2>&1; then
        echo "release: $script could not be signed and verified:" >&2
        cat "$tmp/sign.log" >&2
        exit 1
    fi
fi

mkdir -p dist
for program in "${programs[@]}"; do
    unsigned=build/release/$program.exe
    if $signing; then cp "$tmp/$program.exe" dist/; else cp "$unsigned" dist/; fi
    (cd dist && sha256sum $program.exe > $program.exe.sha256)
    hash=$(cut -d' ' -f1 dist/$program.exe.sha256)
    if $signing; then
        echo "$(sha256sum < "$unsigned" | cut -d' ' -f1)  $program.unsigned.exe" > dist/$program.unsigned.exe.sha256
        echo "dist/$program.exe: signed, $(stat -c %s dist/$program.exe) bytes, sha256 $hash"
        echo "  unsigned: $(stat -c %s "$unsigned") bytes, sha256 $(cut -d' ' -f1 dist/$program.unsigned.exe.sha256)"
    else
        echo "dist/$program.exe: $(stat -c %s dist/$program.exe) bytes, sha256 $hash"
    fi
done
if $signing; then cp "$tmp/$script" dist/; else cp "deploy/$script" dist/; fi
(cd dist && sha256sum $script > $script.sha256)
echo "dist/$script: sha256 $(cut -d' ' -f1 dist/$script.sha256)"
if ! $signing; then
    echo "release: CORVANE_SIGN_PFX is not set: the programs in dist/ are unsigned" >&2
elif [ ${#timestamp[@]} = 0 ]; then
    echo "release: no CORVANE_SIGN_TIMESTAMP_URL: the signatures carry no timestamp" >&2
fi
finished=true
