#!/usr/bin/env bash
# Takes docs/main-window.png: the real Pelmora.exe under Wine on a private
# Xvfb display. Wine draws the window frame itself on its virtual desktop,
# so the caption and icon show as they would on Windows.
#   scripts/screenshot.sh            (after ./build.sh run or ./build.sh test)
set -euo pipefail
cd "$(dirname "$0")/.."
exe=build/windows/Pelmora.exe
[ -f "$exe" ] || { echo "build $exe first: ./build.sh run" >&2; exit 1; }
command -v import >/dev/null || { echo "needs imagemagick (apt-get install imagemagick)" >&2; exit 1; }

display=:$((100 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
export DISPLAY=$display
# A prefix of its own, so ending its Wine server disturbs nothing else.
export WINEPREFIX="${TMPDIR:-/tmp}/pelmora-screenshot-$(id -u)"
sleep 1

cmake/wine-run.sh --tests "$exe" &
app=$!
# The first run in a new prefix sets Wine up first; wait for the window.
for _ in $(seq 120); do
  sleep 1
  if [ -f "$WINEPREFIX/.pelmora-prefix-v2" ]; then
    sleep 4
    break
  fi
done
mkdir -p docs
import -window root /tmp/pelmora-screen.png
# The desktop around the window is one flat colour; trim it away.
convert /tmp/pelmora-screen.png -trim +repage docs/main-window.png
wineserver -k 2>/dev/null || true
wait $app 2>/dev/null || true
echo "wrote docs/main-window.png"
