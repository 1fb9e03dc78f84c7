# What several of Pelmora's scripts need, in one place. Sourced, not run:
#   . scripts/lib.sh
# Running Wine is not here: cmake/wine-run.sh alone knows the loaders and
# prefixes, and the others run Wine through it.

# --- Debian packages -------------------------------------------------------
# The packages each command needs, installed when missing; nothing is pinned
# to a release, so the same names serve Debian 12 and 13. A name is checked
# with dpkg, not by looking for a command, so a half-installed toolchain is
# completed too.
PELMORA_RUN_PACKAGES=(
  cmake ninja-build g++
  g++-mingw-w64-i686          # gives the -posix compilers GoogleTest needs
  g++-mingw-w64-x86-64        # the same for 64-bit Windows
  googletest                  # sources only; built for each preset
  wine wine64 wine32:i386
  fonts-wine                  # Marlett for the caption buttons, MS Sans Serif for the dialogs
  xvfb
)
PELMORA_TEST_PACKAGES=(
  libbenchmark-dev valgrind
  clang libclang-rt-dev       # sanitizers and libFuzzer, for the release's own clang
  clang-tools lld llvm        # clang-cl, lld-link and llvm-rc for the MSVC-mode build
  libwine-dev libwine-dev:i386  # Wine's Windows headers and x86-64 and i386 import libraries
  # A signed release with throwaway keys: unzip to look inside it, socat to
  # serve time stamps on the loopback, SoftHSM2 and OpenSSL's PKCS#11 engine
  # for a key in a token
  unzip socat softhsm2 libengine-pkcs11-openssl
)
# zip packs it; osslsigncode, gnupg and openssl sign it where the publisher
# names a certificate or key
PELMORA_RELEASE_PACKAGES=(zip osslsigncode gnupg openssl)
# ImageMagick's import takes the picture, its convert trims it
PELMORA_SCREENSHOT_PACKAGES=(imagemagick)

pelmora_missing_packages() {
  local package
  for package in "$@"; do
    dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q '^install ok installed$' ||
      printf '%s\n' "$package"
  done
}

# Installs whichever of the given packages are missing, as root or via sudo.
pelmora_install_packages() {
  local need
  need=$(pelmora_missing_packages "$@")
  [ -z "$need" ] && return 0
  echo "== Installing: $(echo $need)"
  local sudo=""
  [ "$(id -u)" = 0 ] || sudo=sudo
  if printf '%s\n' $need | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  # A mirror caught mid-sync fails the update for one index (say, i386 of
  # the security suite) while the install can still find every package, so
  # a failed update is only a warning; a failed install is what stops.
  if ! $sudo apt-get update -qq; then
    echo "== Warning: apt-get update failed (see above); installing from the package lists there are" >&2
  fi
  if ! DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $need; then
    echo "== Could not install: $(pelmora_missing_packages $need | tr '\n' ' ')" >&2
    echo "== If apt-get said the mirror is being synced, wait a few minutes and run the command again." >&2
    return 1
  fi
}

# --- Windows executables ---------------------------------------------------
# Where FILE's PE header starts (the DOS header's e_lfanew), in bytes;
# nothing when FILE cannot be read.
pelmora_pe_header() {
  od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' '
}

# The processor a Windows executable is for: x86-64, i386, or unknown. For
# these two it also tells the header's kind: PE32+ for x86-64, PE32 for i386.
pelmora_pe_machine() {
  local header machine
  header=$(pelmora_pe_header "$1")
  machine=$(od -An -tx2 -j$((${header:-0} + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')
  case "$machine" in
    8664) echo x86-64 ;;
    014c) echo i386 ;;
    *) echo unknown ;;
  esac
}

# --- A display ---------------------------------------------------------------
# Starts a private Xvfb server on the first free display from :90 on, with
# the given screen (1280x1024x24 unless said), and waits for it. Sets
# DISPLAY and pelmora_xvfb_pid; the caller stops it (kill "$pelmora_xvfb_pid").
pelmora_xvfb_pid=""
pelmora_start_xvfb() {
  local screen=${1:-1280x1024x24} n
  for n in $(seq 90 130); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 "$screen" -nolisten tcp >/dev/null 2>&1 &
    pelmora_xvfb_pid=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do
      [ -e "/tmp/.X11-unix/X$n" ] && return 0
      kill -0 "$pelmora_xvfb_pid" 2>/dev/null || break
      sleep 0.1
    done
  done
  echo "cannot start Xvfb" >&2
  return 1
}

# Reads Wine's window list, as `winedbg --command "info wnd"` prints it, on
# standard input, and succeeds when Pelmora's main dialog is in it and
# visible (WS_VISIBLE, 0x10000000).
pelmora_window_listed() {
  local found=1 handle class style rest
  while read -r handle class style rest; do
    if [ "$class" = "#32770" ] && [ "${rest##* }" = Pelmora ] && [ $((0x$style & 0x10000000)) != 0 ]; then
      found=0
    fi
  done
  return "$found"
}

# --- A kernel without 32-bit code ---------------------------------------------
# Copies the ELF program FROM to TO with its processor (e_machine, at byte
# 18) made AArch64's: every x86-64 kernel then refuses to run it with ENOEXEC,
# "Exec format error", as a kernel without ia32 emulation refuses Wine's
# 32-bit loader. Given as PELMORA_WINE32_LOADER, it stands for that loader.
pelmora_forge_refused_loader() {
  cp "$1" "$2"
  printf '\267\000' | dd of="$2" bs=1 seek=18 conv=notrunc 2>/dev/null
}
