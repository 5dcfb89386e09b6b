#!/usr/bin/env bash
# Measures boolconv-cli as people use it: throughput on a file of a million
# everyday expressions, and peak memory on one 4 MB line of each benchmark
# shape. Inputs come from the benchmark program's generator modes, so every
# run measures the same text.
#
# Usage: bench/cli_bench.sh [BUILD_DIR]     (default: build-bench)
# BOOLCONV_BENCH_LINES overrides the number of lines (default 1000000).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-bench}
lines=${BOOLCONV_BENCH_LINES:-1000000}
shape_units=$((4 << 20))
min_lines_per_second=200000
max_peak_mb=200
runs=3

generator=$build/bench/boolfuncs_benchmark
if [[ ! -x $generator ]]; then
  echo "cli_bench: $generator is not built (configure with -DBOOLCONV_BUILD_BENCH=ON)" >&2
  exit 1
fi
if [[ ! -x /usr/bin/time ]]; then
  echo "cli_bench: /usr/bin/time is missing (Debian package: time)" >&2
  exit 1
fi

# The release tool of the same build first; another tree's build may be a
# debug build, so say which one was measured.
cli=
for candidate in "$build/cli/boolconv-cli" build*/cli/boolconv-cli; do
  if [[ -x $candidate ]]; then
    cli=$candidate
    break
  fi
done
if [[ -z $cli ]]; then
  echo "cli_bench: SKIPPED: boolconv-cli is not built yet (looked for build*/cli/boolconv-cli)."
  exit 0
fi
if [[ $cli != "$build/cli/boolconv-cli" ]]; then
  echo "cli_bench: note: measuring $cli, which may not be a release build."
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failed=0
fail() {
  echo "cli_bench: FAILED: $*" >&2
  failed=1
}

# Runs the tool on file $1, its standard output counted in lines. Sets
# status, out_lines, and elapsed/user/system seconds and peak_kb from
# /usr/bin/time (peak_kb is the figure `/usr/bin/time -v` calls "Maximum
# resident set size").
measure() {
  local input=$1
  set +e
  /usr/bin/time -o "$work/time" -f '%e %U %S %M' "$cli" <"$input" 2>"$work/stderr" |
    wc -l >"$work/count"
  status=${PIPESTATUS[0]}
  set -e
  out_lines=$(<"$work/count")
  read -r elapsed user system peak_kb < <(tail -n 1 "$work/time")
}

echo "boolconv-cli: $cli"
echo
"$generator" --write-typical-lines "$lines" >"$work/typical.txt"
bytes=$(stat -c %s "$work/typical.txt")
printf 'Throughput on %d everyday expressions (%.1f MB, %.0f characters a line on average):\n' \
  "$lines" "$(awk -v b="$bytes" 'BEGIN { print b / 1048576 }')" \
  "$(awk -v b="$bytes" -v n="$lines" 'BEGIN { print b / n - 1 }')"
rates=()
for ((run = 1; run <= runs; run++)); do
  measure "$work/typical.txt"
  # Each expression gives two lines: the operator form and the sign form.
  if ((status != 0 || out_lines != 2 * lines)); then
    fail "run $run: exit status $status, $out_lines output lines for $lines expressions"
    head -n 3 "$work/stderr" >&2
    continue
  fi
  wall_rate=$(awk -v n="$lines" -v t="$elapsed" 'BEGIN { printf "%.0f", (t > 0 ? n / t : 0) }')
  cpu_rate=$(awk -v n="$lines" -v t="$user" -v s="$system" \
    'BEGIN { printf "%.0f", (t + s > 0 ? n / (t + s) : 0) }')
  printf '  run %d: %6.2f s wall, %6.2f s CPU: %8d lines/s wall, %8d lines/s CPU, peak %d MB\n' \
    "$run" "$elapsed" "$(awk -v t="$user" -v s="$system" 'BEGIN { print t + s }')" \
    "$wall_rate" "$cpu_rate" $((peak_kb / 1024))
  rates+=("$wall_rate")
done
if ((${#rates[@]} > 0)); then
  median=$(printf '%s\n' "${rates[@]}" | sort -n | awk '{ r[NR] = $1 } END { print r[int((NR + 1) / 2)] }')
  verdict=ok
  ((median >= min_lines_per_second)) || verdict=MISSED
  printf '  median: %d lines/s wall (target >= %d: %s)\n' "$median" "$min_lines_per_second" \
    "$verdict"
fi

echo
echo "Peak memory on one line of each shape ($shape_units characters):"
"$generator" --write-shapes "$work/shapes" "$shape_units"
printf '  %-22s %10s %9s  %s\n' shape "peak MB" "wall s" "target < $max_peak_mb MB"
for file in "$work"/shapes/*.txt; do
  shape=$(basename "$file" .txt)
  measure "$file"
  if ((status != 0 || out_lines != 2)); then
    fail "$shape: exit status $status, $out_lines output lines for 1 expression"
    head -c 300 "$work/stderr" >&2
    echo >&2
    continue
  fi
  peak_mb=$(awk -v k="$peak_kb" 'BEGIN { printf "%.1f", k / 1024 }')
  verdict=ok
  ((peak_kb < max_peak_mb * 1024)) || verdict=MISSED
  printf '  %-22s %10s %9s  %s\n' "$shape" "$peak_mb" "$elapsed" "$verdict"
done

exit "$failed"
