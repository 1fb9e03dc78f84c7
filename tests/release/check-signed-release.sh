#!/usr/bin/env bash
# Makes a signed release with throwaway keys, and checks what a user and a
# rebuilder would, for each of the two exes: both Authenticode signatures and
# their time stamps verify
# against the throwaway authority, and fail for a changed byte; without its
# signature the exe is the one built here; the sums' OpenPGP signature is
# the throwaway key's, and fails for changed sums. Then the same with the key
# in a PKCS#11 token (SoftHSM2). Nothing of the throwaway material outlives
# the check: keys, token, time-stamp server and gpg-agent.
#   tests/release/check-signed-release.sh build/windows/Pelmora.exe build/windows64/Pelmora.exe
set -euo pipefail
self="$(cd "$(dirname "$0")" && pwd)/$(basename "$0")"
cd "$(dirname "$0")/../.."
. scripts/lib.sh

# Run by socat for each connection: one HTTP request for an RFC 3161 time
# stamp, answered by openssl's time-stamp authority.
if [ "${1:-}" = --answer-time-stamp ]; then
  dir=$2
  length=0
  while IFS= read -r line && [ -n "${line%$'\r'}" ]; do
    case "${line,,}" in content-length:*) length=${line//[^0-9]/} ;; esac
  done
  head -c "$length" >"$dir/query.tsq"
  openssl ts -reply -config "$dir/tsa.cnf" -queryfile "$dir/query.tsq" -out "$dir/reply.tsr" 2>>"$dir/tsa.log"
  printf 'HTTP/1.0 200 OK\r\nContent-Type: application/timestamp-reply\r\nContent-Length: %s\r\n\r\n' \
    "$(stat -c %s "$dir/reply.tsr")"
  exec cat "$dir/reply.tsr"
fi

exe=${1:?usage: $0 PATH/TO/32-BIT/Pelmora.exe PATH/TO/64-BIT/Pelmora.exe}
exe64=${2:?usage: $0 PATH/TO/32-BIT/Pelmora.exe PATH/TO/64-BIT/Pelmora.exe}
builds=("$(dirname "$exe")" "$(dirname "$exe64")")
unset "${!PELMORA_SIGN_@}"
dir=$(mktemp -d "${TMPDIR:-/tmp}/pelmora-signing-XXXXXX")
export GNUPGHOME="$dir/gnupg" SOFTHSM2_CONF="$dir/softhsm2.conf"
server=""
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null
  gpgconf --kill gpg-agent 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT
fail() {
  echo "signed release: $*" >&2
  exit 1
}

# A certificate authority, a code-signing certificate in a PKCS#12 file with
# its password in a file, and a time-stamping certificate.
certify() { # name, subject, extended key usage
  openssl req -newkey rsa:2048 -nodes -keyout "$dir/$1.key" -out "$dir/$1.csr" -subj "/CN=$2" 2>/dev/null
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n' "$3" >"$dir/$1.ext"
  openssl x509 -req -in "$dir/$1.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" -CAcreateserial -days 2 \
    -extfile "$dir/$1.ext" -out "$dir/$1.pem" 2>/dev/null
}
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$dir/ca.key" -out "$dir/ca.pem" -days 2 \
  -subj "/CN=Pelmora throwaway authority" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign" 2>/dev/null
certify publisher "Pelmora throwaway publisher" codeSigning
certify tsa "Pelmora throwaway time stamps" critical,timeStamping
echo "throwaway password" >"$dir/password"
openssl pkcs12 -export -inkey "$dir/publisher.key" -in "$dir/publisher.pem" -certfile "$dir/ca.pem" \
  -passout "file:$dir/password" -out "$dir/publisher.p12"
cat >"$dir/tsa.cnf" <<EOF
[ tsa ]
default_tsa = throwaway
[ throwaway ]
serial = $dir/tsa.serial
signer_cert = $dir/tsa.pem
signer_key = $dir/tsa.key
certs = $dir/ca.pem
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha1, sha256
accuracy = secs:1
ess_cert_id_alg = sha256
EOF

# The time-stamp server, on a free port of the loopback interface.
for _ in 1 2 3 4 5; do
  port=$((20000 + RANDOM % 40000))
  socat "TCP-LISTEN:$port,bind=127.0.0.1,reuseaddr,fork" "EXEC:$self --answer-time-stamp $dir" 2>/dev/null &
  server=$!
  sleep 0.3
  kill -0 "$server" 2>/dev/null && break
  server=""
done
[ -n "$server" ] || fail "no port for the time-stamp server"

mkdir -m 700 "$GNUPGHOME"
gpg --batch --pinentry-mode loopback --passphrase '' --quick-gen-key "Pelmora throwaway <throwaway@pelmora.invalid>" \
  ed25519 sign 1d 2>/dev/null
fingerprint=$(gpg --batch --with-colons --list-secret-keys 2>/dev/null | awk -F: '$1 == "fpr" { print $10; exit }')

PELMORA_SIGN_PKCS12="$dir/publisher.p12" PELMORA_SIGN_PASSWORD_FILE="$dir/password" \
  PELMORA_SIGN_TIMESTAMP_URL="http://127.0.0.1:$port/" PELMORA_SIGN_GPG_KEY="$fingerprint" \
  scripts/make-release.sh "${builds[@]}" "$dir/dist" >"$dir/release.log" 2>&1 ||
  { cat "$dir/release.log" >&2; fail "the release failed"; }
# A signing that fails (a wrong password) stops the release, and leaves
# nothing in its folder.
echo "wrong" >"$dir/wrong-password"
mkdir "$dir/failed"
! PELMORA_SIGN_PKCS12="$dir/publisher.p12" PELMORA_SIGN_PASSWORD_FILE="$dir/wrong-password" \
  scripts/make-release.sh "${builds[@]}" "$dir/failed" >"$dir/failed.log" 2>&1 || fail "a failed signing went on"
[ -z "$(ls -A "$dir/failed")" ] || fail "a failed signing left $(ls "$dir/failed")"
# Both exes, each as its zip holds it, and as SHA256SUMS names it.
unzip_exes() { # folder
  local kind
  for kind in win32 win64; do
    mkdir -p "$1/$kind"
    unzip -p "$1/"*-$kind.zip Pelmora.exe >"$1/$kind/Pelmora.exe"
  done
}
unzip_exes "$dir/dist"
for name in "$(cd "$dir/dist" && ls *-win32.zip)" "$(cd "$dir/dist" && ls *-win64.zip)" win32/Pelmora.exe win64/Pelmora.exe; do
  grep -q "^[0-9a-f]\{64\}  $name\$" "$dir/dist/SHA256SUMS" || fail "SHA256SUMS does not name $name"
done
(cd "$dir/dist" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match the release"

# Both signatures, SHA-1 first, each verified with its time stamp.
verify() {
  osslsigncode verify -CAfile "$dir/ca.pem" -TSA-CAfile "$dir/ca.pem" -in "$1" >"$dir/verify.log" 2>&1
}
fingerprint_sha256=$(openssl x509 -in "$dir/publisher.pem" -noout -fingerprint -sha256 | sed 's/.*=//')
for kind in win32 win64; do
  signed="$dir/dist/$kind/Pelmora.exe"
  verify "$signed" || { cat "$dir/verify.log" >&2; fail "the $kind signature does not verify"; }
  [ "$(grep -c '^Signature verification: ok' "$dir/verify.log")" = 2 ] || fail "$kind: not two signatures"
  [ "$(grep -c 'Timestamp Server Signature verification: ok' "$dir/verify.log")" = 2 ] || fail "$kind: not two time stamps"
  [ "$(grep -Eo '^Message digest algorithm {2,}: SHA[0-9]+' "$dir/verify.log" | sed 's/.* //' | tr '\n' ' ')" = \
    "SHA1 SHA256 " ] || fail "$kind: the signatures are not SHA-1, then SHA-256"
  cp "$signed" "$dir/changed.exe"
  printf 'x' | dd of="$dir/changed.exe" bs=1 seek=4096 conv=notrunc 2>/dev/null
  ! verify "$dir/changed.exe" || fail "$kind: a changed byte still verifies"
  unzip -p "$dir/dist/"*-$kind.zip BUILDINFO.txt |
    grep -q "^Signed:  CN=Pelmora throwaway publisher, certificate SHA-256 $fingerprint_sha256"$'\r'"\$" ||
    fail "the $kind BUILDINFO.txt does not name the signer"
done

# Without its signature, each the exe built here; and a byte changed
# elsewhere is caught.
scripts/compare-release-exe.sh "$exe" "$dir/dist/win32/Pelmora.exe"
scripts/compare-release-exe.sh "$exe64" "$dir/dist/win64/Pelmora.exe"
for built in "$exe" "$exe64"; do
  cp "$built" "$dir/rebuilt.exe"
  header=$(pelmora_pe_header "$built")
  printf '\001' | dd of="$dir/rebuilt.exe" bs=1 seek=$((header + 92)) conv=notrunc 2>/dev/null
  ! scripts/compare-release-exe.sh "$dir/rebuilt.exe" "$dir/dist/$([ "$built" = "$exe" ] && echo win32 || echo win64)/Pelmora.exe" \
    2>/dev/null || fail "a byte changed beside the checksum of $built went unseen"
done

# The sums' signature, by the throwaway key's fingerprint, not just gpg's
# exit code; and changed sums fail.
gpg --batch --status-fd 1 --verify "$dir/dist/SHA256SUMS.asc" "$dir/dist/SHA256SUMS" 2>/dev/null |
  grep -q "^\[GNUPG:\] VALIDSIG $fingerprint " || fail "SHA256SUMS.asc is not a good signature by $fingerprint"
sed -i 's/^./0/' "$dir/dist/SHA256SUMS"
! gpg --batch --verify "$dir/dist/SHA256SUMS.asc" "$dir/dist/SHA256SUMS" 2>/dev/null ||
  fail "changed sums still verify"
echo "signed with a PKCS#12 file: each exe two signatures, two time stamps; the sums signed by $fingerprint"

# The key in a token: SoftHSM2 through OpenSSL's PKCS#11 engine.
module=$(ls /usr/lib/softhsm/libsofthsm2.so /usr/lib/*/softhsm/libsofthsm2.so 2>/dev/null | head -n 1 || true)
if [ -z "$module" ] || ! command -v softhsm2-util >/dev/null; then
  echo "skipped: the PKCS#11 route, for want of SoftHSM2"
  exit 0
fi
mkdir "$dir/tokens"
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$dir/tokens" >"$SOFTHSM2_CONF"
echo 4711 >"$dir/pin"
softhsm2-util --init-token --free --label pelmora --pin 4711 --so-pin 8150 >/dev/null
openssl pkcs8 -topk8 -nocrypt -in "$dir/publisher.key" -out "$dir/publisher.p8"
softhsm2-util --import "$dir/publisher.p8" --token pelmora --label signing --id 01 --pin 4711 >/dev/null
rm "$dir/publisher.p8"
PELMORA_SIGN_PKCS11_MODULE="$module" PELMORA_SIGN_CERT="$dir/publisher.pem" \
  PELMORA_SIGN_KEY="pkcs11:token=pelmora;object=signing;type=private" PELMORA_SIGN_PASSWORD_FILE="$dir/pin" \
  scripts/make-release.sh "${builds[@]}" "$dir/token" >"$dir/release.log" 2>&1 ||
  { cat "$dir/release.log" >&2; fail "the release with the key in a token failed"; }
unzip_exes "$dir/token"
for kind in win32 win64; do
  osslsigncode verify -CAfile "$dir/ca.pem" -in "$dir/token/$kind/Pelmora.exe" >"$dir/verify.log" 2>&1 ||
    { cat "$dir/verify.log" >&2; fail "the $kind signature made in the token does not verify"; }
  [ "$(grep -c '^Signature verification: ok' "$dir/verify.log")" = 2 ] || fail "$kind: not two signatures from the token"
done
echo "signed with the key in a PKCS#11 token: each exe two signatures"
