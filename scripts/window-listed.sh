# Sourced by fresh-debian.sh and screenshot.sh. Reads Wine's window list, as
# `winedbg --command "info wnd"` prints it, on standard input and succeeds
# when Pelmora's main dialog is in it and visible (WS_VISIBLE, 0x10000000).
pelmora_window_listed() {
  local found=1 handle class style rest
  while read -r handle class style rest; do
    if [ "$class" = "#32770" ] && [ "${rest##* }" = Pelmora ] && [ $((0x$style & 0x10000000)) != 0 ]; then
      found=0
    fi
  done
  return "$found"
}
