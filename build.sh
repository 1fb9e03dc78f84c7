#!/usr/bin/env bash
# Pelmora's two commands on a Debian machine; each installs what is missing.
#   ./build.sh run      build Pelmora.exe for 32-bit Windows and start it under
#                       Wine; where this machine runs no 32-bit code, the
#                       64-bit one
#   ./build.sh build    build both, the 32-bit and the 64-bit Pelmora.exe
#   ./build.sh release  the same builds, packed for download into dist/
#   ./build.sh test     build natively (plain and sanitized), for 32- and
#                       64-bit Windows with MinGW-w64 and in MSVC mode, and run
#                       every test this machine can run: each preset's, then
#                       the checks of the tools and of the release
set -euo pipefail
cd "$(dirname "$0")"
. scripts/lib.sh

say() { printf '\n== %s\n' "$*"; }

# A private X server unless one is given (or, with "private", always); it
# is stopped on exit.
skip_32_bit=""
ensure_display() {
  if [ -z "${DISPLAY:-}" ] || [ "${1:-}" = private ]; then
    pelmora_start_xvfb
  fi
}
trap '[ -z "$pelmora_xvfb_pid" ] || kill "$pelmora_xvfb_pid" 2>/dev/null || true' EXIT

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

# Configures, builds and runs the tests of a preset; cache settings may
# follow. The Windows suites run two at a time: Wine's start-up is slow.
test_preset() {
  local jobs=()
  case "$1" in windows*) jobs=(-j 2) ;; esac
  configure_preset "$@"
  build_preset "$1"
  ctest --preset "$1" "${jobs[@]}"
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
    if [ -n "$pelmora_xvfb_pid" ]; then
      echo "No DISPLAY was set, so Pelmora runs on a private Xvfb server, $DISPLAY, which nothing shows."
      echo "A picture of it: DISPLAY=$DISPLAY import -window root pelmora.png (import is ImageMagick's:"
      echo "apt-get install imagemagick); scripts/screenshot.sh retakes docs/main-window.png on a server of its own."
    fi
    echo "Pelmora runs until its window is closed; Ctrl-C stops it."
    cmake/wine-run.sh "$exe"
    ;;
  test)
    pelmora_install_packages "${PELMORA_RUN_PACKAGES[@]}" "${PELMORA_TEST_PACKAGES[@]}" "${PELMORA_RELEASE_PACKAGES[@]}"
    say "Native build and unit tests"
    test_preset host
    say "Native build with AddressSanitizer and UndefinedBehaviorSanitizer; 30 s of fuzzing"
    test_preset sanitize
    for preset in msvc msvc64; do
      say "MSVC-mode build ($preset): clang-cl, lld-link and llvm-rc against Wine's Windows SDK"
      test_preset "$preset"
    done
    say "64-bit Windows build with MinGW-w64; unit and end-to-end tests under Wine, the latter for both 64-bit executables"
    ensure_display private
    test_preset windows64 -DPELMORA_MSVC_EXE="$PWD/build/msvc64/Pelmora.exe"
    say "32-bit Windows build with MinGW-w64, the released one; its tests under Wine where this machine runs 32-bit code"
    configure_preset windows -DPELMORA_MSVC_EXE="$PWD/build/msvc/Pelmora.exe"
    build_preset windows --target pelmora_wine_probe
    probe_32_bit --tests
    test_preset windows -DPELMORA_MSVC_EXE="$PWD/build/msvc/Pelmora.exe" -DPELMORA_SKIP_WINE_TESTS="$skip_32_bit"
    [ -z "$skip_32_bit" ] || echo "32-bit Windows suite skipped: $skip_32_bit; the 64-bit suite ran"
    # The checks of the tools and of the release, registered with the
    # released build, one by one by label.
    while IFS='|' read -r label heading; do
      say "$heading"
      ctest --test-dir build/windows -L "^$label\$" --output-on-failure --no-tests=error
    done <<'CHECKS'
wine-probe|The 32-bit suite is skipped only where the kernel refuses 32-bit code
msvc-route|The Visual Studio route in MSVC mode: only compiler, linker and resource tools on the PATH
sse2-flags|SSE2 stays in its own object when the compiler is told to use it everywhere
workflow|The Windows workflow's syntax
line-ends|Every script LF in the index, and checked out as LF on Windows too
reproducible|Reproducibility: both Pelmora.exe and the release built again from a copy in another folder
signed-release|A signed release, with throwaway keys: Authenticode with time stamps, the sums' signature, a key in a token
half-made-build|The same Pelmora.exe from a build folder that a failed configure left behind
CHECKS
    ;;
  *)
    echo "usage: $0 run|test|build|release" >&2
    exit 2
    ;;
esac
