#!/usr/bin/env bash
# Builds the release again, with ./build.sh release, from a copy of this
# checkout in another folder, and compares both Pelmora.exe, both zips and
# SHA256SUMS with those of this tree. The same commit with the same
# compilers must give the same bytes wherever it is built, so that anyone
# can check a released executable by building its commit: the executables
# are compared as a rebuilder compares a release
# (scripts/compare-release-exe.sh).
#   tests/release/check-reproducible.sh build/windows/Pelmora.exe build/windows64/Pelmora.exe
set -euo pipefail
cd "$(dirname "$0")/../.."
# Both releases unsigned, whatever the publisher's shell names to sign with.
unset "${!PELMORA_SIGN_@}"
exe=${1:?usage: $0 PATH/TO/32-BIT/Pelmora.exe PATH/TO/64-BIT/Pelmora.exe}
exe64=${2:?usage: $0 PATH/TO/32-BIT/Pelmora.exe PATH/TO/64-BIT/Pelmora.exe}
again=$(mktemp -d "${TMPDIR:-/tmp}/pelmora-again-XXXXXX")
trap 'rm -rf "$again"' EXIT
scripts/make-release.sh "$(dirname "$exe")" "$(dirname "$exe64")" "$again/first" >/dev/null
# Another folder name and depth than the first build's, so that any path
# that leaks into the executable shows as a difference. The copy keeps the
# repository, which the release reads its commit and date from.
mkdir -p "$again/elsewhere/source"
tar --exclude=./build --exclude=./dist -cf - . | tar -xf - -C "$again/elsewhere/source"
(cd "$again/elsewhere/source" && ./build.sh release >"$again/release.log" 2>&1) ||
  { tail -20 "$again/release.log" >&2; exit 1; }
second="$again/elsewhere/source"
status=0
for file in "$exe" "$exe64" "$again/first/"*; do
  other="$second/dist/$(basename "$file")"
  [ "$file" = "$exe" ] && other="$second/build/windows/Pelmora.exe"
  [ "$file" = "$exe64" ] && other="$second/build/windows64/Pelmora.exe"
  name=$(basename "$file")
  [ "$file" = "$exe" ] && name="32-bit Pelmora.exe"
  [ "$file" = "$exe64" ] && name="64-bit Pelmora.exe"
  printf '%s  %s\n' "$(sha256sum <"$file" | cut -d' ' -f1)" "$name here"
  printf '%s  %s\n' "$(sha256sum <"$other" | cut -d' ' -f1)" "$name built in $second"
  if [ "$file" = "$exe" ] || [ "$file" = "$exe64" ]; then
    scripts/compare-release-exe.sh "$other" "$file" || status=1
  elif ! cmp -s "$file" "$other"; then
    cmp -l "$file" "$other" | head -20 >&2 || true
    echo "$name is not reproducible: the two builds differ" >&2
    status=1
  fi
done
[ "$status" = 0 ] && echo "identical"
exit "$status"
