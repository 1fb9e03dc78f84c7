# The Debian packages each command needs, installed when missing. Sourced by
# build.sh and scripts/screenshot.sh; nothing here is pinned to a release, so
# the same names serve Debian 12 and 13.

# Package names, by what they are for. A name is checked with dpkg, not by
# looking for a command, so a half-installed toolchain is completed too.
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
