#!/usr/bin/env bash
# Every shell script must be LF in the index and checked out as LF whatever
# core.autocrlf says, which .gitattributes does with eol=lf: on Windows a
# script with CR LF stops with "bash\r: No such file or directory".
#   tests/tools/check-script-line-ends.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
if ! git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  echo "skipped: not a git checkout, so there is no index to read"
  exit 0
fi
# git ls-files --eol: index, work tree, attributes, then the name.
listing=$(git ls-files --eol -- '*.sh' .ci/run)
bad=$(printf '%s\n' "$listing" | awk '$1 != "i/lf" || $3 != "attr/text" || $4 != "eol=lf"')
if [ -n "$bad" ]; then
  printf 'scripts that are not LF in the index, or not marked text eol=lf:\n%s\n' "$bad" >&2
  exit 1
fi
echo "$(printf '%s\n' "$listing" | wc -l) scripts, all LF in the index and checked out as LF"
