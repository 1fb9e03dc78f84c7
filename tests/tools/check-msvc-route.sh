#!/usr/bin/env bash
# The README's Visual Studio route (tests and benchmarks off) must configure
# and build with nothing but the compiler, linker and resource tools, as on a
# Windows host: no objdump or anything else of a Unix toolchain. Here clang-cl,
# lld-link, llvm-lib (lib.exe's part), llvm-rc and llvm-mt are copied into a
# folder of their own, with clang, which llvm-rc preprocesses with; PATH is
# that folder and CMake and Ninja alone, and CMake is kept from searching
# /usr/bin.
#   tests/tools/check-msvc-route.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
work=$(mktemp -d "${TMPDIR:-/tmp}/pelmora-msvc-route-XXXXXX")
trap 'rm -rf "$work"' EXIT
clang=$(readlink -f "$(command -v clang)")
llvm=$(dirname "$(dirname "$clang")")
mkdir -p "$work/llvm/bin" "$work/path"
for tool in clang clang-cl lld-link llvm-lib llvm-rc llvm-mt; do
  found=$(command -v "$tool" || true)
  [ -n "$found" ] || found="$llvm/bin/$tool"
  [ -x "$found" ] || { echo "$tool is missing (looked beside $clang too)" >&2; exit 1; }
  cp -L "$found" "$work/llvm/bin/$tool"
done
# clang finds its own headers (intrin.h, emmintrin.h) in ../lib beside it.
ln -s "$llvm/lib" "$work/llvm/lib"
ln -s "$(command -v cmake)" "$(command -v ninja)" "$work/path/"
PATH="$work/llvm/bin:$work/path" cmake -S . -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/clang-cl-i686-wine.cmake" -DCMAKE_FIND_USE_CMAKE_SYSTEM_PATH=OFF \
  -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -DPELMORA_BUILD_TESTS=OFF -DPELMORA_BUILD_BENCH=OFF \
  >"$work/configure.log" 2>&1 || { tail -20 "$work/configure.log" >&2; exit 1; }
PATH="$work/llvm/bin:$work/path" cmake --build "$work/build" >"$work/build.log" 2>&1 ||
  { tail -20 "$work/build.log" >&2; exit 1; }
echo "configured and built with PATH=<clang-cl, lld-link, llvm-lib, llvm-rc, llvm-mt>:<cmake, ninja>:"
ls -l "$work/build/Pelmora.exe" | awk '{ print "  Pelmora.exe, " $5 " bytes" }'
