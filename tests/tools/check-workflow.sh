#!/usr/bin/env bash
# The Windows workflow cannot run here; its syntax is checked against the
# schema that @action-validator/cli carries, run through npx. Without npx
# (Node.js is not one of the packages build.sh installs), or where npx cannot
# fetch the validator (no way to the npm registry), the check says it was
# skipped and why; a workflow that the validator rejects fails it.
#   tests/tools/check-workflow.sh [workflow.yml...]
set -euo pipefail
cd "$(dirname "$0")/../.."
validator=@action-validator/cli@0.6.0
if ! command -v npx >/dev/null; then
  echo "skipped: npx is not installed (Debian's nodejs and npm packages bring it)"
  exit 0
fi
if ! fetched=$(npx --yes -p "$validator" -c true 2>&1); then
  echo "skipped: npx could not fetch $validator: $(printf '%s\n' "$fetched" | grep -m 1 -i error || true)"
  exit 0
fi
[ $# -gt 0 ] || set -- .github/workflows/*.yml
for workflow in "$@"; do
  npx --yes "$validator" "$workflow"
  echo "$workflow: valid"
done
