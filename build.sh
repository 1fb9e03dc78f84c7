#!/usr/bin/env bash
# Pelmora's two commands on a Debian machine; each installs what is missing.
#   ./build.sh run    build Pelmora.exe for 32-bit Windows and start it under Wine
#   ./build.sh test   build natively (plain and sanitized), for Windows with
#                     MinGW-w64 and in MSVC mode, and run every test
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

# A build folder that another generator made (earlier versions used make) is
# started afresh, since CMake refuses to switch generators in place.
configure_preset() {
  local cache="build/$1/CMakeCache.txt"
  if [ -f "$cache" ] && ! grep -qx 'CMAKE_GENERATOR:INTERNAL=Ninja' "$cache"; then
    rm -rf "build/$1"
  fi
  cmake --preset "$@" >/dev/null
}

build_preset() {
  cmake --build --preset "$1" -j "$(nproc)" "${@:2}"
}

case "${1:-}" in
  run)
    pelmora_install_packages "${PELMORA_RUN_PACKAGES[@]}"
    say "Building Pelmora.exe (32-bit Windows, MinGW-w64)"
    configure_preset windows
    build_preset windows --target Pelmora
    ensure_display
    say "Starting build/windows/Pelmora.exe under Wine on display $DISPLAY"
    [ -n "$xvfb_pid" ] && echo "(no display was set, so it runs on a private Xvfb server)"
    cmake/wine-run.sh build/windows/Pelmora.exe
    ;;
  test)
    pelmora_install_packages "${PELMORA_RUN_PACKAGES[@]}" "${PELMORA_TEST_PACKAGES[@]}"
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
    say "Windows build with MinGW-w64; unit and end-to-end tests under Wine, the latter for both executables"
    configure_preset windows -DPELMORA_MSVC_EXE="$PWD/build/msvc/Pelmora.exe"
    build_preset windows
    ensure_display private
    ctest --preset windows -j 2
    say "Reproducibility: Pelmora.exe built again from a copy in another folder"
    scripts/check-reproducible.sh build/windows/Pelmora.exe
    ;;
  *)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
