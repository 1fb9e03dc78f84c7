#!/usr/bin/env bash
# MSYS2's i686 GCC uses SSE2 by default, and anyone may pass flags that do.
# Configure the windows preset with such flags in a folder of its own, build
# the program, and run the check that only the SSE2 object uses SSE registers.
#   tests/tools/check-sse2-default-flags.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(mktemp -d "${TMPDIR:-/tmp}/pelmora-sse2-flags-XXXXXX")
trap 'rm -rf "$build"' EXIT
flags="-march=pentium4 -mfpmath=sse"
cmake --preset windows -B "$build" -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DPELMORA_BUILD_BENCH=OFF >"$build/configure.log" 2>&1 || { tail -20 "$build/configure.log" >&2; exit 1; }
cmake --build "$build" --target Pelmora >"$build/build.log" 2>&1 || { tail -20 "$build/build.log" >&2; exit 1; }
echo "with CMAKE_CXX_FLAGS=\"$flags\":"
ctest --test-dir "$build" -R '^Build\.OnlyTheSse2ObjectUsesSse2$' --output-on-failure --no-tests=error |
  grep -E 'Test +#|SSE|pcmpeqb|tests passed|Failed'
