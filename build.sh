#!/usr/bin/env bash
# Pelmora's two commands on a Debian machine; each installs what is missing.
#   ./build.sh run      build Pelmora.exe for 32-bit Windows and start it under
#                       Wine; where this machine runs no 32-bit code, the
#                       64-bit one
#   ./build.sh build    build both, the 32-bit and the 64-bit Pelmora.exe
#   ./build.sh release  the same builds, packed for download into dist/
#   ./build.sh test   build natively (plain and sanitized), for 32- and 64-bit
#                     Windows with MinGW-w64 and in MSVC mode, run every test
#                     this machine can run and the checks in scripts/
set -euo pipefail
cd "$(dirname "$0")"
. scripts/packages.sh

say() { printf '\n== %s\n' "$*"; }

# Starts a private X server unless one is given, and stops it on exit.
xvfb_pid=""
skip_32_bit=""
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

# The 32-bit Windows suite runs only where this machine runs 32-bit code. A
# tiny 32-bit program is started under Wine once to tell; only the kernel's
# refusal of 32-bit code skips the suite, and any other failure stops here.
# Sets skip_32_bit to the reason, or to nothing.
probe_32_bit() {
  local status=0
  skip_32_bit=""
  scripts/probe-wine.sh "$@" build/windows/tests/pelmora_wine_probe.exe >/dev/null || status=$?
  case "$status" in
    0) ;;
    3) skip_32_bit="this kernel runs no 32-bit code (Wine's 32-bit loader: Exec format error, as where ia32_emulation is off)" ;;
    *) exit 1 ;;
  esac
}

case "${1:-}" in
  run | build | release)
    packages=("${PELMORA_RUN_PACKAGES[@]}")
    [ "$1" = release ] && packages+=("${PELMORA_RELEASE_PACKAGES[@]}")
    pelmora_install_packages "${packages[@]}"
    say "Building Pelmora.exe for 32-bit Windows (MinGW-w64)"
    configure_preset windows
    build_preset windows --target Pelmora pelmora_wine_probe
    exe=build/windows/Pelmora.exe
    if [ "$1" = run ]; then
      ensure_display
      probe_32_bit
    fi
    if [ "$1" != run ] || [ -n "$skip_32_bit" ]; then
      say "Building Pelmora.exe for 64-bit Windows (MinGW-w64)"
      configure_preset windows64
      build_preset windows64 --target Pelmora
      exe=build/windows64/Pelmora.exe
    fi
    [ "$1" = build ] && exit 0
    if [ "$1" = release ]; then
      say "Packing the release into dist/"
      scripts/make-release.sh build/windows build/windows64 dist
      exit 0
    fi
    [ -z "$skip_32_bit" ] || echo "The 64-bit Pelmora.exe runs instead of the 32-bit one: $skip_32_bit."
    say "Starting $exe under Wine on display $DISPLAY"
    if [ -n "$xvfb_pid" ]; then
      echo "No DISPLAY was set, so Pelmora runs on a private Xvfb server, $DISPLAY, which nothing shows."
      echo "A picture of it: DISPLAY=$DISPLAY import -window root pelmora.png (ImageMagick);"
      echo "scripts/screenshot.sh retakes docs/main-window.png on a server of its own."
    fi
    echo "Pelmora runs until its window is closed; Ctrl-C stops it."
    cmake/wine-run.sh "$exe"
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
    for preset in msvc msvc64; do
      say "MSVC-mode build ($preset): clang-cl, lld-link and llvm-rc against Wine's Windows SDK"
      configure_preset "$preset"
      build_preset "$preset"
      ctest --preset "$preset"
    done
    say "The Visual Studio route in MSVC mode: only compiler, linker and resource tools on the PATH"
    scripts/check-msvc-route.sh
    say "64-bit Windows build with MinGW-w64; unit and end-to-end tests under Wine, the latter for both 64-bit executables"
    configure_preset windows64 -DPELMORA_MSVC_EXE="$PWD/build/msvc64/Pelmora.exe"
    build_preset windows64
    ensure_display private
    ctest --preset windows64 -j 2
    say "32-bit Windows build with MinGW-w64, the released one; its tests under Wine where this machine runs 32-bit code"
    configure_preset windows -DPELMORA_MSVC_EXE="$PWD/build/msvc/Pelmora.exe"
    build_preset windows --target pelmora_wine_probe
    probe_32_bit --tests
    configure_preset windows -DPELMORA_MSVC_EXE="$PWD/build/msvc/Pelmora.exe" -DPELMORA_SKIP_WINE_TESTS="$skip_32_bit"
    build_preset windows
    ctest --preset windows -j 2
    [ -z "$skip_32_bit" ] || echo "32-bit Windows suite skipped: $skip_32_bit; the 64-bit suite ran"
    say "The 32-bit suite is skipped only where the kernel refuses 32-bit code"
    scripts/check-wine-probe.sh build/windows/tests/pelmora_wine_probe.exe build/windows64/tests/pelmora_wine_probe.exe
    say "SSE2 stays in its own object when the compiler is told to use it everywhere"
    scripts/check-sse2-default-flags.sh
    say "The Windows workflow's syntax"
    scripts/check-workflow.sh
    say "Every script LF in the index, and checked out as LF on Windows too"
    scripts/check-script-line-ends.sh
    say "Reproducibility: both Pelmora.exe and the release built again from a copy in another folder"
    scripts/check-reproducible.sh build/windows/Pelmora.exe build/windows64/Pelmora.exe
    say "A signed release, with throwaway keys: Authenticode with time stamps, the sums' signature, a key in a token"
    scripts/check-signed-release.sh build/windows/Pelmora.exe build/windows64/Pelmora.exe
    say "The same Pelmora.exe from a build folder that a failed configure left behind"
    scripts/check-half-made-build.sh build/windows/Pelmora.exe build/windows64/Pelmora.exe
    ;;
  *)
    echo "usage: $0 run|test|build|release" >&2
    exit 2
    ;;
esac
