#!/usr/bin/env bash
# Pelmora's two commands on a Debian machine; each installs what is missing.
#   ./build.sh run    build Pelmora.exe for 32-bit Windows and start it under Wine
#   ./build.sh test   build natively (plain and sanitized) and for Windows, and run every test
set -euo pipefail
cd "$(dirname "$0")"

say() { printf '\n== %s\n' "$*"; }

missing_packages() {
  local need=()
  command -v cmake >/dev/null || need+=(cmake)
  command -v g++ >/dev/null || need+=(g++)
  command -v i686-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-i686)
  command -v wine >/dev/null || need+=(wine)
  dpkg -s wine64 >/dev/null 2>&1 || need+=(wine64)
  dpkg -s wine32:i386 >/dev/null 2>&1 || need+=(wine32:i386)
  command -v Xvfb >/dev/null || need+=(xvfb)
  [ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
  if [ "${1:-}" = test ]; then
    dpkg -s libbenchmark-dev >/dev/null 2>&1 || need+=(libbenchmark-dev)
    command -v clang++ >/dev/null || need+=(clang)
    dpkg -s libclang-rt-14-dev >/dev/null 2>&1 || need+=(libclang-rt-14-dev)
    command -v valgrind >/dev/null || need+=(valgrind)
  fi
  printf '%s\n' "${need[@]}"
}

install_missing() {
  local need
  need=$(missing_packages "$1")
  [ -z "$need" ] && return 0
  say "Installing: $(echo $need)"
  local sudo=""
  [ "$(id -u)" = 0 ] || sudo=sudo
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $need
}

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

build_preset() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$(nproc)" "${@:2}"
}

case "${1:-}" in
  run)
    install_missing run
    say "Building Pelmora.exe (32-bit Windows, MinGW-w64)"
    build_preset windows --target Pelmora
    ensure_display
    say "Starting build/windows/Pelmora.exe under Wine on display $DISPLAY"
    [ -n "$xvfb_pid" ] && echo "(no display was set, so it runs on a private Xvfb server)"
    cmake/wine-run.sh build/windows/Pelmora.exe
    ;;
  test)
    install_missing test
    say "Native build and unit tests"
    build_preset host
    ctest --preset host
    say "Native build with AddressSanitizer and UndefinedBehaviorSanitizer; 30 s of fuzzing"
    build_preset sanitize
    ctest --preset sanitize
    say "Windows build; unit and end-to-end tests under Wine"
    build_preset windows
    ensure_display private
    ctest --preset windows -j 2
    ;;
  *)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
