#!/usr/bin/env bash
# Takes docs/main-window.png: the real Pelmora.exe under Wine on a private
# Xvfb display. Wine draws the window frame itself on its virtual desktop,
# so the caption, its buttons and the icon show as they would on Windows.
# EXE is the 32-bit build unless named (build/windows64/Pelmora.exe where
# this machine runs no 32-bit code).
#   scripts/screenshot.sh [EXE]      (after ./build.sh run or ./build.sh test)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
. scripts/window-listed.sh
exe=${1:-build/windows/Pelmora.exe}
[ -f "$exe" ] || { echo "build $exe first: ./build.sh run" >&2; exit 1; }
# Wine's tools by the loader of the program's own kind, as wine-run.sh runs it.
loader=/usr/lib/wine/wine
[ "$(od -An -tx2 -j$(($(od -An -tu4 -j60 -N4 "$exe") + 4)) -N2 "$exe" | tr -d ' ')" = 8664 ] && loader=/usr/lib/wine/wine64
pelmora_install_packages "${PELMORA_RUN_PACKAGES[@]}" "${PELMORA_SCREENSHOT_PACKAGES[@]}"

display=:$((100 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display
# A prefix of its own, made afresh, so ending its Wine server disturbs
# nothing else and the picture never depends on an older prefix.
export WINEPREFIX="${TMPDIR:-/tmp}/pelmora-screenshot-$(id -u)"
rm -rf "$WINEPREFIX"
trap '/usr/lib/wine/wineserver64 -k 2>/dev/null || true; kill $xvfb 2>/dev/null || true; rm -rf "$WINEPREFIX"' EXIT
sleep 1

cmake/wine-run.sh --tests "$exe" &
# The first run in a new prefix sets Wine up first; wait until Wine lists
# the window as visible, then give it time to paint.
shown=0
for _ in $(seq 120); do
  sleep 1
  [ -f "$WINEPREFIX/.pelmora-prefix-v3" ] || continue
  if WINEDEBUG=-all "$loader" winedbg.exe --command "info wnd" 2>/dev/null | pelmora_window_listed; then
    shown=1
    break
  fi
done
[ "$shown" = 1 ] || { echo "Pelmora's window did not appear" >&2; exit 1; }
sleep 2
mkdir -p docs
import -window root "$WINEPREFIX/screen.png"
# The desktop around the window is one flat colour; trim it away.
convert "$WINEPREFIX/screen.png" -trim +repage docs/main-window.png
echo "wrote docs/main-window.png"
