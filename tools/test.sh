#!/usr/bin/env bash
# Installs what the tests need, then builds and runs every test twice: under
# AddressSanitizer and UndefinedBehaviorSanitizer, and as released.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
jobs=$(nproc)
for preset in sanitize default; do
  echo "=== $preset build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  ctest --preset "$preset" -j"$jobs"
done
