#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's own prefix. The prefix is
# made once, under a lock, because parallel first starts of Wine race.
# With --tests first, the prefix gets a virtual desktop: without a window
# manager Wine waits up to two seconds for every window it hides, and every
# message box a test closes would pay it.
set -euo pipefail
desktop=0
if [ "${1:-}" = "--tests" ]; then
  desktop=1
  shift
fi
: "${WINEPREFIX:=${PELMORA_WINEPREFIX:-${TMPDIR:-/tmp}/pelmora-wine-$(id -u)-$desktop}}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEARCH=win32
ready="$WINEPREFIX/.pelmora-prefix-v3"
if [ ! -f "$ready" ]; then
  # Made here: Wine refuses to make a prefix itself in a folder the user does
  # not own, such as /tmp.
  mkdir -p "$WINEPREFIX"
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [ ! -f "$ready" ]; then
    wineboot --init >"$WINEPREFIX.log" 2>&1 || true
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
    # A crash prints its backtrace and ends the process instead of waiting
    # for someone to close Wine's crash dialog.
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    if [ "$desktop" = 1 ]; then
      wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
      wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
      # X: is a network drive, for the tests of destinations that write
      # behind; Wine reads its type from here when its server starts. The
      # prefix is 32-bit, so there is one registry view.
      mkdir -p "$WINEPREFIX/network-drive"
      ln -sfn ../network-drive "$WINEPREFIX/dosdevices/x:"
      wine reg add 'HKLM\Software\Wine\Drives' /v x: /d network /f >/dev/null 2>&1
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
  exec wine "$@"
fi
# Wine's own services, which the first program of a fresh server starts, keep
# that program's standard error open for as long as the server runs. Were it
# a test's output pipe, CTest would wait for it, long after the test ended,
# and might time the test out. So the program writes to a file, which is
# followed here until the program ends.
log=$(mktemp "${TMPDIR:-/tmp}/pelmora-wine-output-XXXXXX")
wine "$@" >"$log" 2>&1 </dev/null &
program=$!
trap 'kill "$program" 2>/dev/null || true; rm -f "$log"' EXIT
tail -c +1 -s 0.1 --pid="$program" -f "$log" &
status=0
wait "$program" || status=$?
wait
exit "$status"
