#!/usr/bin/env bash
# The 32-bit suite is skipped only where the kernel refuses 32-bit code, and
# never for any other failure of Wine. The probe is started:
# - with a 32-bit loader that every x86-64 kernel refuses with ENOEXEC (an
#   ELF for another processor), as one without ia32 emulation refuses
#   Wine's own: it must say so, and exit 3;
# - in a prefix that Wine cannot set up (a folder this user may not write
#   to): it must fail, with exit 1. Each build's probe is given that prefix,
#   but the 32-bit one's only where the kernel runs 32-bit code; elsewhere
#   the refusal comes first, rightly.
#   tests/tools/check-wine-probe.sh build/windows/tests/pelmora_wine_probe.exe build/windows64/tests/pelmora_wine_probe.exe
set -uo pipefail
cd "$(dirname "$0")/../.."
. scripts/lib.sh
probe32=${1:?usage: $0 PROBE32.exe PROBE64.exe}
probe64=${2:?usage: $0 PROBE32.exe PROBE64.exe}
work=$(mktemp -d "${TMPDIR:-/tmp}/pelmora-wine-probe-XXXXXX")
trap 'rm -rf "$work"' EXIT
failed=0
pelmora_forge_refused_loader "$(type -P true)" "$work/refused-loader"
said=$(PELMORA_WINE32_LOADER="$work/refused-loader" WINEPREFIX="$work/unused" scripts/probe-wine.sh --tests "$probe32" 2>&1)
status=$?
echo "32-bit, a loader the kernel refuses: exit $status: $said"
[ "$status" = 3 ] && [[ "$said" == *"this kernel runs no 32-bit code"*"Exec format error"* ]] || failed=1
mkdir -m 0555 "$work/broken"
[ "$(id -u)" = 0 ] && chown nobody "$work/broken"
probes=("$probe64")
scripts/probe-wine.sh --tests "$probe32" >/dev/null 2>&1 && probes+=("$probe32")
for probe in "${probes[@]}"; do
  said=$(WINEPREFIX="$work/broken" scripts/probe-wine.sh --tests "$probe" 2>&1)
  status=$?
  echo "$probe, a prefix Wine cannot set up: exit $status: $(printf '%s\n' "$said" | tail -n 1)"
  [ "$status" = 1 ] || failed=1
done
[ "${#probes[@]}" = 2 ] || echo "32-bit, a prefix Wine cannot set up: not shown, since this kernel refuses 32-bit code first"
[ "$failed" = 0 ] || { echo "the probe took another failure for a kernel without 32-bit code, or missed one" >&2; exit 1; }
echo "skipped only for the kernel's refusal"
