#!/usr/bin/env bash
# A build folder left by a configure that failed, as when `cmake --preset
# windows` ran before MinGW-w64 was installed, must not change what
# `./build.sh run` builds. In a copy of this tree, configure both presets once
# with the cross compilers off the PATH (each must fail), then build as
# `./build.sh build` does; each Pelmora.exe must be byte for byte the given
# clean build.
#   tests/release/check-half-made-build.sh build/windows/Pelmora.exe build/windows64/Pelmora.exe
set -euo pipefail
cd "$(dirname "$0")/../.."
exe=${1:?usage: $0 PATH/TO/32-BIT/Pelmora.exe PATH/TO/64-BIT/Pelmora.exe}
exe64=${2:?usage: $0 PATH/TO/32-BIT/Pelmora.exe PATH/TO/64-BIT/Pelmora.exe}
work=$(mktemp -d "${TMPDIR:-/tmp}/pelmora-half-made-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/source" "$work/bin"
tar --exclude=./build --exclude=./.git -cf - . | tar -xf - -C "$work/source"
# Only CMake and Ninja: no compiler of any kind can be found.
ln -s "$(command -v cmake)" "$(command -v ninja)" "$work/bin/"
cd "$work/source"
for preset in windows windows64; do
  if PATH="$work/bin" cmake --preset $preset >"$work/failed-configure.log" 2>&1; then
    echo "configure of $preset succeeded without the cross compilers on the PATH, so this check shows nothing" >&2
    exit 1
  fi
done
./build.sh build >"$work/build.log" 2>&1 || { tail -20 "$work/build.log" >&2; exit 1; }
cd - >/dev/null
status=0
for pair in "$exe windows" "$exe64 windows64"; do
  set -- $pair
  first=$(sha256sum <"$1" | cut -d' ' -f1)
  second=$(sha256sum <"$work/source/build/$2/Pelmora.exe" | cut -d' ' -f1)
  echo "$1: $first"
  echo "after a failed configure, then ./build.sh build: $second"
  [ "$first" = "$second" ] || { echo "a build folder from a failed configure gave a different $2 Pelmora.exe" >&2; status=1; }
done
[ "$status" = 0 ] && echo "identical"
exit "$status"
