#!/usr/bin/env bash
# Compares a Pelmora.exe built from a release's commit with the released one.
# An unsigned release must be the same, byte for byte. A signed one differs by
# its signature, which osslsigncode removes; what removal leaves is allowed
# for, and nothing else: the PE checksum, which it computes afresh, and the
# zero bytes that padded the file to a multiple of 8 before the signature.
#   scripts/compare-release-exe.sh REBUILT RELEASED
set -euo pipefail
. "$(dirname "$0")/lib.sh"
rebuilt=${1:?usage: $0 REBUILT RELEASED}
released=${2:?usage: $0 REBUILT RELEASED}
differs() {
  echo "$released is not $rebuilt: $*" >&2
  exit 1
}
# The PE header's place, then in it the checksum (88 bytes on) and the size
# of the certificate table: 156 bytes on in a 32-bit header, 172 in a 64-bit
# (PE32+) one, whose optional header has 16 bytes more before it.
header=$(pelmora_pe_header "$rebuilt")
table=156
[ "$(pelmora_pe_machine "$rebuilt")" = x86-64 ] && table=172
signature_size=$(od -An -tu4 -j$((header + table)) -N4 "$released" | tr -d ' ')
if [ "${signature_size:-0}" = 0 ]; then
  cmp "$rebuilt" "$released" || differs "not signed, yet not the same bytes"
  echo "identical: $released is not signed"
  exit 0
fi
command -v osslsigncode >/dev/null || { echo "osslsigncode is needed to remove the signature" >&2; exit 2; }
work=$(mktemp -d "${TMPDIR:-/tmp}/pelmora-compare-XXXXXX")
trap 'rm -rf "$work"' EXIT
osslsigncode remove-signature -in "$released" -out "$work/unsigned.exe" >"$work/log" 2>&1 ||
  { cat "$work/log" >&2; differs "its signature cannot be removed"; }
size=$(stat -c %s "$rebuilt")
padding=$(((8 - size % 8) % 8))
[ "$(stat -c %s "$work/unsigned.exe")" = $((size + padding)) ] ||
  differs "without its signature it has $(stat -c %s "$work/unsigned.exe") bytes, not $size and $padding of padding"
[ -z "$(tail -c "$padding" "$work/unsigned.exe" | tr -d '\0')" ] || differs "the padding is not zero bytes"
# cmp -l counts bytes from 1.
others=$(cmp -l "$rebuilt" <(head -c "$size" "$work/unsigned.exe") |
  awk -v first=$((header + 89)) -v last=$((header + 92)) '$1 < first || $1 > last' | head -5 || true)
[ -z "$others" ] || differs "bytes other than the PE checksum differ (offset from 1, octal values):
$others"
echo "identical but for the signature: $released, without it, differs from $rebuilt only in its PE checksum" \
  "and $padding zero bytes of padding"
