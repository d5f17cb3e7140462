#!/usr/bin/env bash
# Installs what the tests need, then builds and runs every test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
stages=(sanitized native package safety fuzz windows bench-smoke)
for stage in "${stages[@]}"; do
  echo "== test stage: $stage"
  bash "scripts/test-$stage.sh"
done
