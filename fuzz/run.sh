#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) in build-fuzz/ and fuzzes each target for
# SECONDS (default 60). Each run starts from a copy of the checked-in seed
# corpus, so the repository stays as it is; new coverage goes to
# build-fuzz/corpus/<target>/ and any crashing, hanging or invariant-breaking
# input to fuzz/artifacts/<target>/. Exits non-zero when any target fails.
#
#   fuzz/run.sh [SECONDS]      environment: BUILD_DIR (build-fuzz), JOBS (2),
#                              FUZZ_TARGETS (default: every target)
set -euo pipefail
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-fuzz}
jobs=${JOBS:-2}
targets=(${FUZZ_TARGETS:-convert differential tokens reading})

CMAKE_GENERATOR=Ninja cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DBOOLCONV_FUZZ=ON -DBOOLCONV_WERROR=ON \
  -DBOOLCONV_BUILD_TESTS=OFF -DBOOLCONV_BUILD_UI=OFF >/dev/null
cmake --build "$build" -j"$jobs" --target "${targets[@]/%/_fuzzer}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
total=0
failed=()
for target in "${targets[@]}"; do
  corpus=$build/corpus/$target
  artifacts=$root/fuzz/artifacts/$target
  mkdir -p "$corpus" "$artifacts"
  cp -n "$root/fuzz/corpus/$target/"* "$corpus/" 2>/dev/null || true
  dict=()
  [ -f "$root/fuzz/$target.dict" ] && dict=(-dict="$root/fuzz/$target.dict")
  log=$build/$target.log
  echo "== fuzzing $target for ${seconds}s (log: $log)"
  status=0
  "$build/fuzz/${target}_fuzzer" "$corpus" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
    "${dict[@]}" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$artifacts/" \
    >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  runs=${runs:-0}
  total=$((total + runs))
  if [ "$status" -ne 0 ]; then
    failed+=("$target")
    echo "!! $target failed (exit $status) after $runs executions; last lines of its log:"
    tail -n 40 "$log"
  else
    echo "   $target: $runs executions, clean"
  fi
done
echo "== total executions: $total"
if [ "${#failed[@]}" -ne 0 ]; then
  echo "!! failing targets: ${failed[*]} (inputs in fuzz/artifacts/)"
  exit 1
fi
