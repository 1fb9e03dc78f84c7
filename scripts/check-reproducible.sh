#!/usr/bin/env bash
# Builds Pelmora.exe again from a copy of this tree in another folder and
# compares the two files. The same sources with the same compilers must give
# the same bytes wherever they are built, so that anyone can check a released
# executable by building its tag.
#   scripts/check-reproducible.sh build/windows/Pelmora.exe
set -euo pipefail
cd "$(dirname "$0")/.."
exe=${1:?usage: $0 PATH/TO/Pelmora.exe}
again=$(mktemp -d "${TMPDIR:-/tmp}/pelmora-again-XXXXXX")
trap 'rm -rf "$again"' EXIT
# Another folder name and depth than the first build's, so that any path
# that leaks into the executable shows as a difference.
mkdir -p "$again/elsewhere/source"
tar --exclude=./build --exclude=./.git -cf - . | tar -xf - -C "$again/elsewhere/source"
(
  cd "$again/elsewhere/source"
  cmake --preset windows -DPELMORA_BUILD_TESTS=OFF -DPELMORA_BUILD_BENCH=OFF >/dev/null
  cmake --build --preset windows --target Pelmora >/dev/null
)
first=$(sha256sum <"$exe" | cut -d' ' -f1)
second=$(sha256sum <"$again/elsewhere/source/build/windows/Pelmora.exe" | cut -d' ' -f1)
echo "$exe:            $first"
echo "built in $again/elsewhere/source: $second"
if [ "$first" != "$second" ]; then
  cmp -l "$exe" "$again/elsewhere/source/build/windows/Pelmora.exe" | head -20 >&2 || true
  echo "Pelmora.exe is not reproducible: the two builds differ" >&2
  exit 1
fi
echo "identical"
