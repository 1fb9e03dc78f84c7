#!/usr/bin/env bash
# The Windows workflow cannot run here; its syntax is checked against the
# schema that @action-validator/cli carries, run through npx. Without npx
# (Node.js is not one of the packages build.sh installs) the check says it
# was skipped.
#   scripts/check-workflow.sh
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v npx >/dev/null; then
  echo "skipped: npx is not installed (Debian's nodejs and npm packages bring it)"
  exit 0
fi
for workflow in .github/workflows/*.yml; do
  npx --yes @action-validator/cli@0.6.0 "$workflow"
  echo "$workflow: valid"
done
