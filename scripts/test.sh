#!/usr/bin/env bash
# Builds both presets and runs every test: natively on Linux, and the
# Windows build under Wine. Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
status=0
for preset in linux windows; do
  echo "=== ${preset}: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --parallel "$jobs"
  echo "=== ${preset}: test"
  ctest --preset "$preset" || status=1
done
exit "$status"
