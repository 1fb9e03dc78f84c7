#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's own prefix. The prefix is
# made once, under a lock, because parallel first starts of Wine race.
set -euo pipefail
: "${WINEPREFIX:=${PELMORA_WINEPREFIX:-${TMPDIR:-/tmp}/pelmora-wine-$(id -u)}}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEARCH=win32
if [ ! -f "$WINEPREFIX/.pelmora-ready" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [ ! -f "$WINEPREFIX/.pelmora-ready" ]; then
    wineboot --init >/dev/null 2>&1 || true
    wineserver -w
    touch "$WINEPREFIX/.pelmora-ready"
  fi
  exec 9>&-
fi
exec wine "$@"
