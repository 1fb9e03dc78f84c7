#!/usr/bin/env bash
# Pelmora's two commands on a Debian machine; each installs what is missing.
#   ./build.sh run      build Pelmora.exe for 32-bit Windows and start it under Wine
#   ./build.sh build    the same build, without starting it
#   ./build.sh release  the same build, packed for download into dist/
#   ./build.sh test   build natively (plain and sanitized), for Windows with
#                     MinGW-w64 and in MSVC mode, run every test and the
#                     checks of the build in scripts/
set -euo pipefail
cd "$(dirname "$0")"
. scripts/packages.sh

say() { printf '\n== %s\n' "$*"; }

# Starts a private X server unless one is given, and stops it on exit.
xvfb_pid=""
ensure_display() {
  if [ -n "${DISPLAY:-}" ] && [ "${1:-}" != private ]; then
    return 0
  fi
  local n
  for n in $(seq 90 120); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do
      [ -e "/tmp/.X11-unix/X$n" ] && return 0
      sleep 0.1
    done
  done
  echo "cannot start Xvfb" >&2
  exit 1
}
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

# A build folder is reused only when its last configure completed with the
# compiler it names still the same, and with the same presets and toolchain
# files. Anything else (a configure that failed before the cross compiler was
# installed, a compiler upgraded since, a folder an older checkout made with
# make) is configured afresh: CMake would otherwise keep what it cached, such
# as empty release flags, and build a different Pelmora.exe without a word.
# With Ninja a fresh configure still reuses every object whose command is
# unchanged.
configuration_of() {
  local compiler
  compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "build/$1/CMakeCache.txt" 2>/dev/null)
  [ -n "$compiler" ] && [ -x "$compiler" ] || return 0
  printf '%s\n' "$compiler"
  "$compiler" --version 2>&1 | head -n 1
  cat CMakePresets.json cmake/*.cmake | sha256sum
}

configure_preset() {
  local preset=$1 stamp="build/$1/.pelmora-configured" fresh=""
  if [ ! -f "$stamp" ] || [ "$(cat "$stamp")" != "$(configuration_of "$preset")" ]; then
    fresh=--fresh
  fi
  rm -f "$stamp"
  cmake --preset "$@" $fresh >/dev/null
  configuration_of "$preset" >"$stamp"
}

build_preset() {
  cmake --build --preset "$1" -j "$(nproc)" "${@:2}"
}

case "${1:-}" in
  run | build | release)
    packages=("${PELMORA_RUN_PACKAGES[@]}")
    [ "$1" = release ] && packages+=("${PELMORA_RELEASE_PACKAGES[@]}")
    pelmora_install_packages "${packages[@]}"
    say "Building Pelmora.exe (32-bit Windows, MinGW-w64)"
    configure_preset windows
    build_preset windows --target Pelmora
    [ "$1" = build ] && exit 0
    if [ "$1" = release ]; then
      say "Packing the release into dist/"
      scripts/make-release.sh build/windows dist
      exit 0
    fi
    ensure_display
    say "Starting build/windows/Pelmora.exe under Wine on display $DISPLAY"
    if [ -n "$xvfb_pid" ]; then
      echo "No DISPLAY was set, so Pelmora runs on a private Xvfb server, $DISPLAY, which nothing shows."
      echo "A picture of it: DISPLAY=$DISPLAY import -window root pelmora.png (ImageMagick);"
      echo "scripts/screenshot.sh retakes docs/main-window.png on a server of its own."
    fi
    echo "Pelmora runs until its window is closed; Ctrl-C stops it."
    cmake/wine-run.sh build/windows/Pelmora.exe
    ;;
  test)
    pelmora_install_packages "${PELMORA_RUN_PACKAGES[@]}" "${PELMORA_TEST_PACKAGES[@]}" "${PELMORA_RELEASE_PACKAGES[@]}"
    say "Native build and unit tests"
    configure_preset host
    build_preset host
    ctest --preset host
    say "Native build with AddressSanitizer and UndefinedBehaviorSanitizer; 30 s of fuzzing"
    configure_preset sanitize
    build_preset sanitize
    ctest --preset sanitize
    say "MSVC-mode build: clang-cl, lld-link and llvm-rc against Wine's Windows SDK"
    configure_preset msvc
    build_preset msvc
    ctest --preset msvc
    say "The Visual Studio route in MSVC mode: only compiler, linker and resource tools on the PATH"
    scripts/check-msvc-route.sh
    say "Windows build with MinGW-w64; unit and end-to-end tests under Wine, the latter for both executables"
    configure_preset windows -DPELMORA_MSVC_EXE="$PWD/build/msvc/Pelmora.exe"
    build_preset windows
    ensure_display private
    ctest --preset windows -j 2
    say "SSE2 stays in its own object when the compiler is told to use it everywhere"
    scripts/check-sse2-default-flags.sh
    say "The Windows workflow's syntax"
    scripts/check-workflow.sh
    say "Every script LF in the index, and checked out as LF on Windows too"
    scripts/check-script-line-ends.sh
    say "Reproducibility: Pelmora.exe and the release built again from a copy in another folder"
    scripts/check-reproducible.sh build/windows/Pelmora.exe
    say "A signed release, with throwaway keys: Authenticode with time stamps, the sums' signature, a key in a token"
    scripts/check-signed-release.sh build/windows/Pelmora.exe
    say "The same Pelmora.exe from a build folder that a failed configure left behind"
    scripts/check-half-made-build.sh build/windows/Pelmora.exe
    ;;
  *)
    echo "usage: $0 run|test|build|release" >&2
    exit 2
    ;;
esac
