#!/usr/bin/env bash
# Packs the two built Pelmora.exe for download, into OUT_DIR:
#   Pelmora-<version>-win32.zip  the 32-bit Pelmora.exe, README.txt
#                                (docs/README.txt in CR LF, for Notepad) and
#                                BUILDINFO.txt
#   Pelmora-<version>-win64.zip  the same for the 64-bit Pelmora.exe; its
#                                BUILDINFO.txt also names both executables
#                                with their SHA-256
#   SHA256SUMS                   both zips and both exes (win32/Pelmora.exe,
#                                win64/Pelmora.exe), for sha256sum -c
#   SHA256SUMS.asc               its OpenPGP signature, with PELMORA_SIGN_GPG_KEY
# Each exe must first pass its build's checks labelled exe: its header and
# its imports. The same commit built with the same packages gives the same
# bytes: every time stamp is the commit's own, the order is fixed, and zip
# stores no extra fields, no owner and fixed permissions. With the publisher's
# certificate (PELMORA_SIGN_PKCS11_MODULE, PELMORA_SIGN_CERT and
# PELMORA_SIGN_KEY for a key in a token; or PELMORA_SIGN_PKCS12), both exes
# are signed first (docs/releasing.md, "Signing a release"); only the signature then
# differs from a rebuild, which scripts/compare-release-exe.sh allows for.
#   scripts/make-release.sh BUILD_DIR BUILD64_DIR OUT_DIR    (./build.sh release calls it)
set -euo pipefail
cd "$(dirname "$0")/.."
usage="usage: $0 BUILD_DIR BUILD64_DIR OUT_DIR"
build=${1:?$usage}
build64=${2:?$usage}
out=${3:?$usage}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "no project version in $build/CMakeCache.txt" >&2; exit 1; }

# The guide is for Windows users, whose older Notepad shows nothing but
# ASCII reliably, and it names every message the README's table does.
if LC_ALL=C grep -n '[^ -~]' docs/README.txt >&2; then
  echo "docs/README.txt must be plain ASCII (the lines above are not)" >&2
  exit 1
fi
awk '/^\| Message \| When \|$/ {table = 1; next} !/^\|/ {table = 0} table && !/^\|-/' README.md |
  sed 's/^| \([^|]*[^ |]\) | .*/\1/; s| / |\n|g' | while IFS= read -r message; do
  grep -qxF "$message" docs/README.txt ||
    { echo "docs/README.txt does not explain the README's message: $message" >&2; exit 1; }
done

# What the publisher named to sign with. The key stays where the publisher
# keeps it, and a password is read from a file, never from the command line.
sign=()
certificate=""
if [ -n "${PELMORA_SIGN_PKCS11_MODULE:-}" ]; then
  certificate=${PELMORA_SIGN_CERT:?PELMORA_SIGN_PKCS11_MODULE needs PELMORA_SIGN_CERT, the certificate file}
  sign=(-pkcs11module "$PELMORA_SIGN_PKCS11_MODULE" -certs "$certificate"
        -key "${PELMORA_SIGN_KEY:?PELMORA_SIGN_PKCS11_MODULE needs PELMORA_SIGN_KEY, the PKCS#11 URI of the key}")
elif [ -n "${PELMORA_SIGN_PKCS12:-}" ]; then
  sign=(-pkcs12 "$PELMORA_SIGN_PKCS12")
fi
password=()
[ -n "${PELMORA_SIGN_PASSWORD_FILE:-}" ] && password=(-readpass "$PELMORA_SIGN_PASSWORD_FILE")
stamp=()
[ -n "${PELMORA_SIGN_TIMESTAMP_URL:-}" ] && stamp=(-ts "$PELMORA_SIGN_TIMESTAMP_URL")

commit=$(git rev-parse HEAD)
[ -z "$(git status --porcelain --untracked-files=no)" ] || commit="$commit, with changes not committed"
epoch=$(git log -1 --format=%ct)
. /etc/os-release
stage=$(mktemp -d "${TMPDIR:-/tmp}/pelmora-release-XXXXXX")
trap 'rm -rf "$stage"' EXIT
zips=("Pelmora-$version-win32.zip" "Pelmora-$version-win64.zip")
# Nothing of an earlier release stays to be taken for this one's, should
# this one fail; what it makes is moved in only once all of it is made.
mkdir -p "$out"
rm -f "${zips[@]/#/$out/}" "$out/SHA256SUMS" "$out/SHA256SUMS.asc"
# An executable that fails the checks of what its header asks of Windows
# and of what it imports is not packed.
for from in "$build" "$build64"; do
  ctest --test-dir "$from" -L '^exe$' --no-tests=error --output-on-failure >"$stage/checks.log" 2>&1 ||
    { cat "$stage/checks.log" >&2; echo "$from/Pelmora.exe fails its checks, so it is not packed" >&2; exit 1; }
done
signer="none: Pelmora.exe is not signed"
mkdir "$stage/win32" "$stage/win64"
if [ ${#sign[@]} -gt 0 ]; then
  if [ -z "$certificate" ]; then
    certificate="$stage/certificate.pem"
    pass=(-passin "file:${PELMORA_SIGN_PASSWORD_FILE:-/dev/null}")
    openssl pkcs12 -in "$PELMORA_SIGN_PKCS12" -nokeys -clcerts "${pass[@]}" -out "$certificate" 2>/dev/null ||
      openssl pkcs12 -legacy -in "$PELMORA_SIGN_PKCS12" -nokeys -clcerts "${pass[@]}" -out "$certificate"
  fi
  signer="$(openssl x509 -in "$certificate" -noout -subject -nameopt RFC2253 | sed 's/^subject=//'),"
  signer+=" certificate SHA-256 $(openssl x509 -in "$certificate" -noout -fingerprint -sha256 | sed 's/.*=//')"
  # SHA-1 first, for XP SP3 and Vista, which check only that; then a nested
  # SHA-256 signature, which Windows 7 with its updates and later use.
  for kind in win32 win64; do
    from=$build
    [ "$kind" = win64 ] && from=$build64
    osslsigncode sign "${sign[@]}" "${password[@]}" -h sha1 -n Pelmora "${stamp[@]}" \
      -in "$from/Pelmora.exe" -out "$stage/Pelmora-sha1.exe" >/dev/null
    osslsigncode sign "${sign[@]}" "${password[@]}" -nest -h sha256 -n Pelmora "${stamp[@]}" \
      -in "$stage/Pelmora-sha1.exe" -out "$stage/$kind/Pelmora.exe" >/dev/null
    rm -f "$stage/Pelmora-sha1.exe"
  done
  rm -f "$stage/certificate.pem"
  [ ${#stamp[@]} -gt 0 ] ||
    echo "No PELMORA_SIGN_TIMESTAMP_URL: the signature stops verifying when the certificate expires."
else
  cp "$build/Pelmora.exe" "$stage/win32/Pelmora.exe"
  cp "$build64/Pelmora.exe" "$stage/win64/Pelmora.exe"
fi
# What built each exe. The packages are those of its own processor's
# compilers, so that installing the other's changes neither zip.
buildinfo() { # bits, preset, the other processor's package word
  echo "Pelmora $version for $1-bit Windows: what built this Pelmora.exe"
  echo
  echo "Commit:  $commit"
  echo "Preset:  $2 (cmake --preset $2; cmake --build --preset $2 --target Pelmora)"
  echo "Debian:  $PRETTY_NAME, point release $(cat /etc/debian_version)"
  echo "Signed:  $signer"
  echo
  echo "Packages that shape the bytes (dpkg-query -W): the MinGW-w64 compilers and"
  echo "runtime, binutils for MinGW-w64, CMake and Ninja."
  dpkg-query -W -f '${db:Status-Abbrev}|${binary:Package} ${Version}\n' "g++-mingw-w64-$4*" 'gcc-mingw-w64-*' \
    'mingw-w64-*' "binutils-mingw-w64-$4" cmake cmake-data ninja-build 2>/dev/null | sed -n 's/^ii *|/  /p' |
    grep -v -- "-$3" | sort
  echo
  echo "With these versions installed, ./build.sh release at that commit builds the"
  echo "same Pelmora.exe: byte for byte when it is not signed, and but for the"
  echo "signature (scripts/compare-release-exe.sh) when it is."
}
sums() { (cd "$stage" && sha256sum "$@"); }
{
  buildinfo 32 windows x86-64 i686
} | sed 's/$/\r/' >"$stage/win32/BUILDINFO.txt"
{
  buildinfo 64 windows64 i686 x86-64
  echo
  echo "The executables of this release (SHA-256), the 32-bit one in"
  echo "Pelmora-$version-win32.zip and this one:"
  sums win32/Pelmora.exe win64/Pelmora.exe | sed 's/^/  /'
} | sed 's/$/\r/' >"$stage/win64/BUILDINFO.txt"
for kind in win32 win64; do
  sed 's/$/\r/' docs/README.txt >"$stage/$kind/README.txt"
  chmod 0644 "$stage/$kind"/*
  touch -d "@$epoch" "$stage/$kind"/*
  (cd "$stage/$kind" && TZ=UTC zip -X -q "../Pelmora-$version-$kind.zip" Pelmora.exe README.txt BUILDINFO.txt &&
    touch -d "@$epoch" "../Pelmora-$version-$kind.zip")
done
sums "${zips[@]}" win32/Pelmora.exe win64/Pelmora.exe >"$stage/SHA256SUMS"
made=("${zips[@]/#/$stage/}" "$stage/SHA256SUMS")
if [ -n "${PELMORA_SIGN_GPG_KEY:-}" ]; then
  gpg --batch --local-user "$PELMORA_SIGN_GPG_KEY" --armor --detach-sign --output "$stage/SHA256SUMS.asc" \
    "$stage/SHA256SUMS"
  made+=("$stage/SHA256SUMS.asc")
fi
mv "${made[@]}" "$out/"
[ ${#sign[@]} -gt 0 ] || [ -n "${PELMORA_SIGN_GPG_KEY:-}" ] ||
  echo "This release is unsigned: see docs/releasing.md, \"Signing a release\", for the certificate and key to sign it with."
echo "${zips[*]/#/$out/}, and $out/SHA256SUMS${PELMORA_SIGN_GPG_KEY:+ with SHA256SUMS.asc}:"
cat "$out/SHA256SUMS"
