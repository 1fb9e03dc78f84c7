#!/usr/bin/env bash
# Whether this machine runs a Windows build's programs under Wine: starts a
# tiny program of that build once, in the tests' prefix. Exits with
#   0  it ran;
#   3  the kernel refused Wine's 32-bit loader ("Exec format error", as a
#      kernel with ia32_emulation off does), said in one line;
#   1  any other failure (Wine missing, a broken prefix, the program
#      failing), with what Wine said: that is no reason to skip the suite.
# With --tests, in the prefix the tests use; else in the one ./build.sh run
# uses.
#   scripts/probe-wine.sh [--tests] build/windows/tests/pelmora_wine_probe.exe
set -uo pipefail
cd "$(dirname "$0")/.."
mode=()
if [ "${1:-}" = --tests ]; then
  mode=(--tests)
  shift
fi
probe=${1:?usage: $0 [--tests] PATH/TO/pelmora_wine_probe.exe}
# Into a file, not a pipe: Wine's services, which the first program of a
# fresh server starts, hold its output open for as long as that server runs,
# and another Wine program in the prefix keeps it running.
log=$(mktemp "${TMPDIR:-/tmp}/pelmora-wine-probe-XXXXXX")
trap 'rm -f "$log"' EXIT
cmake/wine-run.sh "${mode[@]}" "$probe" >"$log" 2>&1 </dev/null
status=$?
output=$(cat "$log")
[ "$status" = 0 ] && exit 0
refusal=$(printf '%s\n' "$output" | grep -m 1 '^wine-run.sh: this kernel runs no 32-bit code' || true)
if [ "$status" = 126 ] && [ -n "$refusal" ]; then
  echo "$refusal"
  exit 3
fi
printf '%s\n' "$output" >&2
echo "Wine could not run $probe (exit status $status), and not because the kernel refuses 32-bit code" >&2
exit 1
