#!/usr/bin/env bash
# Takes docs/main-window.png: the real Pelmora.exe under Wine on a private
# Xvfb display. Wine draws the window frame itself on its virtual desktop,
# so the caption, its buttons and the icon show as they would on Windows.
# EXE is the 32-bit build unless named (build/windows64/Pelmora.exe where
# this machine runs no 32-bit code).
#   scripts/screenshot.sh [EXE]      (after ./build.sh run or ./build.sh test)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
exe=${1:-build/windows/Pelmora.exe}
[ -f "$exe" ] || { echo "build $exe first: ./build.sh run" >&2; exit 1; }
pelmora_install_packages "${PELMORA_RUN_PACKAGES[@]}" "${PELMORA_SCREENSHOT_PACKAGES[@]}"

pelmora_start_xvfb 1024x768x24
# A prefix of its own, made afresh, so ending its Wine server disturbs
# nothing else and the picture never depends on an older prefix.
export WINEPREFIX="${TMPDIR:-/tmp}/pelmora-screenshot-$(id -u)"
rm -rf "$WINEPREFIX"
trap 'cmake/wine-run.sh --tests --kind-of "$exe" --stop; kill $pelmora_xvfb_pid 2>/dev/null || true; rm -rf "$WINEPREFIX"' EXIT

cmake/wine-run.sh --tests "$exe" &
# The first run in a new prefix sets Wine up first; wait until Wine lists
# the window as visible, then give it time to paint.
shown=0
for _ in $(seq 120); do
  sleep 1
  if cmake/wine-run.sh --tests --kind-of "$exe" --if-ready winedbg.exe --command "info wnd" 2>/dev/null |
    pelmora_window_listed; then
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
