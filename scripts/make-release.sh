#!/usr/bin/env bash
# Packs a built Pelmora.exe for download, into OUT_DIR:
#   Pelmora-<version>-win32.zip  Pelmora.exe, README.txt (docs/README.txt in
#                                CR LF, for Notepad) and BUILDINFO.txt
#   SHA256SUMS                   the zip and Pelmora.exe, for sha256sum -c
# The same commit built with the same packages gives the same bytes: every
# time stamp is the commit's own, the order is fixed, and zip stores no
# extra fields, no owner and fixed permissions.
#   scripts/make-release.sh BUILD_DIR OUT_DIR    (./build.sh release calls it)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: $0 BUILD_DIR OUT_DIR}
out=${2:?usage: $0 BUILD_DIR OUT_DIR}
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

commit=$(git rev-parse HEAD)
[ -z "$(git status --porcelain --untracked-files=no)" ] || commit="$commit, with changes not committed"
epoch=$(git log -1 --format=%ct)
. /etc/os-release
stage=$(mktemp -d "${TMPDIR:-/tmp}/pelmora-release-XXXXXX")
trap 'rm -rf "$stage"' EXIT
cp "$build/Pelmora.exe" "$stage/Pelmora.exe"
sed 's/$/\r/' docs/README.txt >"$stage/README.txt"
{
  echo "Pelmora $version for 32-bit Windows: what built this Pelmora.exe"
  echo
  echo "Commit:  $commit"
  echo "Preset:  windows (cmake --preset windows; cmake --build --preset windows --target Pelmora)"
  echo "Debian:  $PRETTY_NAME, point release $(cat /etc/debian_version)"
  echo
  echo "Packages that shape the bytes (dpkg-query -W): the MinGW-w64 compilers and"
  echo "runtime, binutils for MinGW-w64, CMake and Ninja."
  dpkg-query -W -f '${db:Status-Abbrev}|${binary:Package} ${Version}\n' 'g++-mingw-w64-i686*' 'gcc-mingw-w64-*' \
    'mingw-w64-*' 'binutils-mingw-w64-i686' cmake cmake-data ninja-build 2>/dev/null | sed -n 's/^ii *|/  /p' | sort
  echo
  echo "With these versions installed, ./build.sh release at that commit writes the"
  echo "same bytes into dist/."
} | sed 's/$/\r/' >"$stage/BUILDINFO.txt"
chmod 0644 "$stage"/*
touch -d "@$epoch" "$stage"/*
zip_name="Pelmora-$version-win32.zip"
(cd "$stage" && TZ=UTC zip -X -q "$zip_name" Pelmora.exe README.txt BUILDINFO.txt && touch -d "@$epoch" "$zip_name")
mkdir -p "$out"
rm -f "$out/$zip_name" "$out/SHA256SUMS"
(cd "$stage" && sha256sum "$zip_name" Pelmora.exe) >"$out/SHA256SUMS"
mv "$stage/$zip_name" "$out/$zip_name"
echo "$out/$zip_name, and $out/SHA256SUMS:"
cat "$out/SHA256SUMS"
