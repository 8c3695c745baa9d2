#!/usr/bin/env bash
# Installs what the tests need, then builds and runs every test: first under
# AddressSanitizer and UndefinedBehaviorSanitizer, then as released (with
# memcheck and the real relays), then the Windows build under wine. Prints
# the real-relay report at the end.
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
tools/test-windows.sh
echo "=== Packages"
mandoc -T lint -W warning doc/RyMail.1
tools/package.sh
echo "=== Real relays"
cat build/default/relay-report.txt
if [ -f build/default/submission-report.txt ]; then cat build/default/submission-report.txt; fi
