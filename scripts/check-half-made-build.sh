#!/usr/bin/env bash
# A build folder left by a configure that failed, as when `cmake --preset
# windows` ran before MinGW-w64 was installed, must not change what
# `./build.sh run` builds. In a copy of this tree, configure once with the
# cross compilers off the PATH (it must fail), then build as `./build.sh run`
# does; Pelmora.exe must be byte for byte the given clean build.
#   scripts/check-half-made-build.sh build/windows/Pelmora.exe
set -euo pipefail
cd "$(dirname "$0")/.."
exe=${1:?usage: $0 PATH/TO/Pelmora.exe}
work=$(mktemp -d "${TMPDIR:-/tmp}/pelmora-half-made-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/source" "$work/bin"
tar --exclude=./build --exclude=./.git -cf - . | tar -xf - -C "$work/source"
# Only CMake and Ninja: no compiler of any kind can be found.
ln -s "$(command -v cmake)" "$(command -v ninja)" "$work/bin/"
cd "$work/source"
if PATH="$work/bin" cmake --preset windows >"$work/failed-configure.log" 2>&1; then
  echo "configure succeeded without the cross compilers on the PATH, so this check shows nothing" >&2
  exit 1
fi
./build.sh build >"$work/build.log" 2>&1 || { tail -20 "$work/build.log" >&2; exit 1; }
cd - >/dev/null
first=$(sha256sum <"$exe" | cut -d' ' -f1)
second=$(sha256sum <"$work/source/build/windows/Pelmora.exe" | cut -d' ' -f1)
echo "$exe:                         $first"
echo "after a failed configure, then ./build.sh build: $second"
if [ "$first" != "$second" ]; then
  echo "a build folder from a failed configure gave a different Pelmora.exe" >&2
  exit 1
fi
echo "identical"
