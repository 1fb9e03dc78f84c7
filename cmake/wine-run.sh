#!/usr/bin/env bash
# Runs a Windows program under Wine, in a prefix of the build's own that
# matches the program: a 64-bit program (PE machine x64) with Wine's 64-bit
# loader in a 64-bit prefix, any other with the 32-bit loader in a 32-bit
# prefix. This is the one place that knows Wine's loaders and Pelmora's
# prefixes; every other script runs Wine through it. The loaders are called
# by their own paths: Debian's wine, wineboot and winepath scripts take the
# 32-bit loader whenever it is installed, even where the kernel cannot run
# it. The prefix is made once, under a lock, because parallel first starts
# of Wine race.
#   cmake/wine-run.sh [--tests] [--kind-of PROGRAM.exe] [--if-ready] COMMAND [ARGUMENTS...]
#   cmake/wine-run.sh [--tests] --kind-of PROGRAM.exe --stop
# With --tests, the prefix gets a virtual desktop: without a window manager
# Wine waits up to two seconds for every window it hides, and every message
# box a test closes would pay it. With --kind-of, the loader and prefix are
# PROGRAM.exe's and COMMAND may be one of Wine's own (winedbg.exe, say).
# With --if-ready, a prefix not made yet is not made: the command fails with
# exit 2. --stop ends the prefix's Wine server and everything it runs.
# A kernel that runs no 32-bit code (ia32_emulation off) refuses the 32-bit
# loader with "Exec format error"; then this says so on one line that begins
# "wine-run.sh: this kernel runs no 32-bit code", and exits with 126.
set -euo pipefail
. "$(dirname "$0")/../scripts/lib.sh"
desktop=0
kind_of=""
if_ready=0
stop=0
while [ $# -gt 0 ]; do
  case "$1" in
    --tests) desktop=1; shift ;;
    --kind-of) kind_of=${2:?--kind-of needs a program}; shift 2 ;;
    --if-ready) if_ready=1; shift ;;
    --stop) stop=1; shift ;;
    *) break ;;
  esac
done
if [ "$stop" = 1 ]; then
  : "${kind_of:?usage: $0 [--tests] --kind-of PROGRAM.exe --stop}"
else
  : "${1:?usage: $0 [--tests] [--kind-of PROGRAM.exe] [--if-ready] COMMAND [ARGUMENTS...]}"
fi
if [ "$(pelmora_pe_machine "${kind_of:-$1}")" = x86-64 ]; then
  loader=/usr/lib/wine/wine64
  export WINEARCH=win64 WINELOADER=$loader
  default_prefix="${TMPDIR:-/tmp}/pelmora-wine64-$(id -u)-$desktop"
  registry_view=(/reg:64)
else
  loader=${PELMORA_WINE32_LOADER:-/usr/lib/wine/wine}
  export WINEARCH=win32
  default_prefix="${PELMORA_WINEPREFIX:-${TMPDIR:-/tmp}/pelmora-wine-$(id -u)-$desktop}"
  registry_view=()
  if ! refused=$("$loader" --version 2>&1 >/dev/null); then
    case "$refused" in
      *"Exec format error"*)
        echo "wine-run.sh: this kernel runs no 32-bit code, so ${kind_of:-$1} cannot run: $refused" >&2
        exit 126
        ;;
    esac
  fi
fi
server=/usr/lib/wine/wineserver64
[ -x "$server" ] || server=/usr/lib/wine/wineserver32
# As Debian's wineserver script calls it.
wineserver() { "$server" -p0 "$@"; }
: "${WINEPREFIX:=$default_prefix}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
ready="$WINEPREFIX/.pelmora-prefix-v3"
if [ "$stop" = 1 ]; then
  wineserver -k 2>/dev/null || true
  exit 0
fi
if [ ! -f "$ready" ] && [ "$if_ready" = 1 ]; then
  echo "wine-run.sh: the prefix $WINEPREFIX is not made yet" >&2
  exit 2
fi
if [ ! -f "$ready" ]; then
  # Made here: Wine refuses to make a prefix itself in a folder the user does
  # not own, such as /tmp.
  mkdir -p "$WINEPREFIX"
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [ ! -f "$ready" ]; then
    "$loader" wineboot.exe --init >"$WINEPREFIX.log" 2>&1 || true
    if [ ! -d "$WINEPREFIX/drive_c/windows/Fonts" ]; then
      tail -20 "$WINEPREFIX.log" >&2
      echo "wine-run.sh: Wine could not set up the prefix $WINEPREFIX" >&2
      exit 1
    fi
    # Debian's Wine does not look in the folder where fonts-wine puts Wine's
    # own fonts, so without these links Marlett is missing (the caption
    # buttons show as the letters 0, 1 and r) and MS Sans Serif becomes some
    # other face. Windows' own font folder in the prefix is always searched.
    for font in /usr/share/wine/fonts/*; do
      [ -e "$font" ] && ln -sf "$font" "$WINEPREFIX/drive_c/windows/Fonts/"
    done
    reg() { "$loader" reg.exe add "$@" /f "${registry_view[@]}" >/dev/null 2>&1; }
    # A crash prints its backtrace and ends the process instead of waiting
    # for someone to close Wine's crash dialog.
    reg 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0
    if [ "$desktop" = 1 ]; then
      reg 'HKCU\Software\Wine\Explorer' /v Desktop /d Default
      reg 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768
      # X: is a network drive, for the tests of destinations that write
      # behind; Wine's server reads its type from here when it starts, in
      # the registry's 64-bit view where a 64-bit prefix has two.
      mkdir -p "$WINEPREFIX/network-drive"
      ln -sfn ../network-drive "$WINEPREFIX/dosdevices/x:"
      reg 'HKLM\Software\Wine\Drives' /v x: /d network
    fi
    wineserver -w
    touch "$ready"
  fi
  exec 9>&-
fi
# PELMORA_FILE_SIZE_LIMIT_KB caps the size of files the program may write, so
# that a write fails partway as on a full disk. Wine's server is started
# first, without the cap, since it keeps files of its own.
if [ -n "${PELMORA_FILE_SIZE_LIMIT_KB:-}" ]; then
  wineserver -p30 >/dev/null 2>&1 || true
  trap '' XFSZ
  ulimit -f "$PELMORA_FILE_SIZE_LIMIT_KB"
fi
if [ "$desktop" = 0 ]; then
  exec "$loader" "$@"
fi
# Wine's own services, which the first program of a fresh server starts, keep
# that program's standard error open for as long as the server runs. Were it
# a test's output pipe, CTest would wait for it, long after the test ended,
# and might time the test out. So the program writes to a file, which is
# followed here until the program ends.
log=$(mktemp "${TMPDIR:-/tmp}/pelmora-wine-output-XXXXXX")
"$loader" "$@" >"$log" 2>&1 </dev/null &
program=$!
trap 'kill "$program" 2>/dev/null || true; rm -f "$log"' EXIT
tail -c +1 -s 0.1 --pid="$program" -f "$log" &
status=0
wait "$program" || status=$?
wait
exit "$status"
