#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs each for a bounded time, starting from the inputs kept in
# tests/fuzz/corpus. An input that breaks a property is copied there, so the
# regression test replays it from then on, and the run fails.
#   tools/fuzz.sh [seconds per target, default 60]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
tools/install-deps.sh clang libclang-rt-14-dev
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$(nproc)" >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
for target in reply_reader body_path option_walk; do
  mkdir -p "$work/$target" "$work/$target-crash"
  log="$work/$target.log"
  if build/fuzz/tests/fuzz/fuzz_$target -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
       -artifact_prefix="$work/$target-crash/" "$work/$target" "$PWD/tests/fuzz/corpus/$target" >"$log" 2>&1; then
    echo "fuzz $target: $(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$') executions, no property broken"
  else
    failed=1
    echo "fuzz $target: FAILED"
    grep -E 'property broken|ERROR|SUMMARY' "$log" | head -5
    for crash in "$work/$target-crash"/*; do
      [ -e "$crash" ] && cp "$crash" "tests/fuzz/corpus/$target/regression-$(basename "$crash")" &&
        echo "  kept tests/fuzz/corpus/$target/regression-$(basename "$crash")"
    done
  fi
done
exit $failed
