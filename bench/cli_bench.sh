#!/usr/bin/env bash
# Measures boolconv-cli as people use it, beside Xapian's QueryParser
# (bench/xapian_peer) on the same input in the same run:
#  - throughput on a file of a million typical one-line strategies (about 150
#    bytes each), both programs in turn, three runs each;
#  - one 100 MB line of such strategies side by side: time and peak memory
#    (boolconv-cli only: the peer's parser overflows its stack on it);
#  - peak memory on one 4 MB line of each benchmark shape;
#  - time on one 4 MB line of each shape and of typical strategies side by
#    side, beside the peer and a plain copy of the same bytes;
#  - --check on the realistic 4 MB line against the conversion alone.
# Inputs come from the benchmark program's generator modes, so every run
# measures the same text.
#
# Usage: bench/cli_bench.sh [BUILD_DIR]     (default: build-bench)
# BOOLCONV_BENCH_LINES overrides the number of lines (default 1000000),
# BOOLCONV_BENCH_LONG_MB the size of the long line (default 100).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-bench}
lines=${BOOLCONV_BENCH_LINES:-1000000}
long_mb=${BOOLCONV_BENCH_LONG_MB:-100}
shape_units=$((4 << 20))
# Targets.
min_lines_per_second=4000000
min_times_peer=40
max_long_line_seconds=1.0
max_long_line_peak_ratio=4
max_check_ratio=2
max_peak_mb=200
runs=3

generator=$build/bench/boolfuncs_benchmark
if [[ ! -x $generator ]]; then
  echo "cli_bench: $generator is not built (configure with -DBOOLCONV_BUILD_BENCH=ON)" >&2
  exit 1
fi
peer=$build/bench/xapian_peer
if [[ ! -x $peer ]]; then
  echo "cli_bench: $peer is not built (it needs libxapian-dev)" >&2
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

# Runs program $2 (default: the tool) on file $1. Sets status, and
# elapsed/user/system seconds and peak_kb from /usr/bin/time (peak_kb is the
# figure `/usr/bin/time -v` calls "Maximum resident set size"). Its standard
# output goes to /dev/null, so that nothing else takes a core from it; with
# $3 = count it is counted in lines instead (out_lines), to check it.
measure() {
  local input=$1 program=${2:-$cli} mode=${3:-}
  set +e
  if [[ $mode == count ]]; then
    /usr/bin/time -o "$work/time" -f '%e %U %S %M' "$program" <"$input" 2>"$work/stderr" |
      wc -l >"$work/count"
    status=${PIPESTATUS[0]}
    out_lines=$(<"$work/count")
  else
    /usr/bin/time -o "$work/time" -f '%e %U %S %M' "$program" <"$input" >/dev/null \
      2>"$work/stderr"
    status=$?
  fi
  set -e
  read -r elapsed user system peak_kb < <(tail -n 1 "$work/time")
}

median() { sort -n | awk '{ r[NR] = $1 } END { print r[int((NR + 1) / 2)] }'; }
rate() { awk -v n="$1" -v t="$2" 'BEGIN { printf "%.0f", (t > 0 ? n / t : 0) }'; }
verdict() { awk -v ok="$1" 'BEGIN { print (ok ? "ok" : "MISSED") }'; }

echo "boolconv-cli: $cli"
echo "peer:         $peer (Xapian QueryParser)"
echo
"$generator" --write-typical-lines "$lines" >"$work/typical.txt"
bytes=$(stat -c %s "$work/typical.txt")
printf 'Throughput on %d typical strategies (%.1f MB, %.0f characters a line on average):\n' \
  "$lines" "$(awk -v b="$bytes" 'BEGIN { print b / 1048576 }')" \
  "$(awk -v b="$bytes" -v n="$lines" 'BEGIN { print b / n - 1 }')"
ours=()
theirs=()
# First each program's output is counted, untimed; the timed runs write to
# /dev/null.
for program in "$cli" "$peer"; do
  measure "$work/typical.txt" "$program" count
  # boolconv-cli writes two lines an expression, the peer one.
  [[ $program == "$cli" ]] && expected=$((2 * lines)) || expected=$lines
  if ((status != 0 || out_lines != expected)); then
    fail "$program: exit status $status, $out_lines output lines for $lines lines"
    head -n 3 "$work/stderr" >&2
  fi
done
for ((run = 1; run <= runs; run++)); do
  for program in "$cli" "$peer"; do
    measure "$work/typical.txt" "$program"
    if ((status != 0)); then
      fail "run $run of $program: exit status $status"
      head -n 3 "$work/stderr" >&2
      continue
    fi
    wall_rate=$(rate "$lines" "$elapsed")
    cpu=$(awk -v t="$user" -v s="$system" 'BEGIN { print t + s }')
    printf '  run %d %-13s %6.2f s wall, %6.2f s CPU: %8d lines/s wall, %8d lines/s CPU\n' \
      "$run" "$(basename "$program"):" "$elapsed" "$cpu" "$wall_rate" "$(rate "$lines" "$cpu")"
    if [[ $program == "$cli" ]]; then ours+=("$wall_rate"); else theirs+=("$wall_rate"); fi
  done
done
if ((${#ours[@]} > 0 && ${#theirs[@]} > 0)); then
  our_median=$(printf '%s\n' "${ours[@]}" | median)
  peer_median=$(printf '%s\n' "${theirs[@]}" | median)
  times=$(awk -v a="$our_median" -v b="$peer_median" 'BEGIN { printf "%.1f", (b > 0 ? a / b : 0) }')
  printf '  median: boolconv-cli %d lines/s wall (target >= %d: %s), peer %d lines/s\n' \
    "$our_median" "$min_lines_per_second" "$(verdict "$((our_median >= min_lines_per_second))")" \
    "$peer_median"
  printf '  boolconv-cli is %sx the peer (target >= %dx: %s)\n' "$times" "$min_times_peer" \
    "$(verdict "$(awk -v t="$times" -v m="$min_times_peer" 'BEGIN { print (t >= m) }')")"
fi

echo
"$generator" --write-typical-line $((long_mb << 20)) >"$work/long.txt"
long_bytes=$(stat -c %s "$work/long.txt")
printf 'One line of %.0f MB of typical strategies side by side:\n' \
  "$(awk -v b="$long_bytes" 'BEGIN { print b / 1048576 }')"
# Only boolconv-cli: the peer's parser recurses per term and overflows its
# stack on a line of millions of them.
for program in "$cli"; do
  measure "$work/long.txt" "$program" count
  if ((status != 0 || out_lines != 2)); then
    fail "long line: exit status $status, $out_lines output lines"
    head -c 300 "$work/stderr" >&2
    continue
  fi
  ratio=$(awk -v k="$peak_kb" -v b="$long_bytes" 'BEGIN { printf "%.2f", k * 1024 / b }')
  printf '  %-13s %6.2f s wall, %6.2f s CPU, peak %d MB (%sx the line)\n' \
    "$(basename "$program"):" "$elapsed" "$(awk -v t="$user" -v s="$system" 'BEGIN { print t + s }')" \
    $((peak_kb / 1024)) "$ratio"
  printf '  targets: <= %s s: %s; peak <= %dx the line: %s\n' "$max_long_line_seconds" \
    "$(verdict "$(awk -v t="$elapsed" -v m="$max_long_line_seconds" 'BEGIN { print (t <= m) }')")" \
    "$max_long_line_peak_ratio" \
    "$(verdict "$(awk -v r="$ratio" -v m="$max_long_line_peak_ratio" 'BEGIN { print (r <= m) }')")"
done
rm -f "$work/long.txt"

echo
echo "Peak memory on one line of each shape ($shape_units characters):"
"$generator" --write-shapes "$work/shapes" "$shape_units"
printf '  %-22s %10s %9s  %s\n' shape "peak MB" "wall s" "target < $max_peak_mb MB"
for file in "$work"/shapes/*.txt; do
  shape=$(basename "$file" .txt)
  measure "$file" "$cli" count
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

echo
# Each row of the speed targets: the whole process on one 4 MB line, median
# of $line_runs runs, beside the peer and a plain copy of the same bytes
# (cat), which bounds what any program reading and writing them can do.
"$generator" --write-typical-line "$shape_units" >"$work/shapes/0_typical_line.txt"
declare -A target_ms=(
  [0_typical_line]=12 [2_flat_group]=12 [6_long_phrase]=12 [8_space_and_not_runs]=12
  [7_unclosed_quote]=12 [3_side_by_side]=20 [4_nested_converted]=20 [5_dissolved_chain]=20
  [1_realistic]=20)
line_runs=5
# Milliseconds of wall time for "$@" reading $1, run $line_runs times: the
# median, ">30000" when a run was stopped by `timeout 30`, or "failed" when
# a run fails.
median_ms() {
  local input=$1 times=() start end
  shift
  for ((run = 0; run < line_runs; run++)); do
    start=$EPOCHREALTIME
    local status=0
    "$@" <"$input" >/dev/null 2>&1 || status=$?
    if ((status == 124)); then  # stopped by timeout
      echo ">30000"
      return
    elif ((status != 0)); then
      echo failed
      return
    fi
    end=$EPOCHREALTIME
    times+=("$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.1f", (e - s) * 1000 }')")
  done
  printf '%s\n' "${times[@]}" | median
}
printf 'Time on one line of each shape (%d characters), median of %d, whole process:\n' \
  "$shape_units" "$line_runs"
printf '  %-22s %9s %9s %9s %9s  %s\n' shape "ours ms" "peer ms" "copy ms" "target" verdict
for file in "$work"/shapes/*.txt; do
  shape=$(basename "$file" .txt)
  ours=$(median_ms "$file" "$cli")
  # The peer may crash or crawl on a shape (on 4 MB of typical strategies it
  # takes more than 30 s, most of it in the kernel): given 30 s.
  peer=$(median_ms "$file" timeout 30 "$peer")
  copy=$(median_ms "$file" cat)
  target=${target_ms[$shape]:-}
  verdict=-
  if [[ $ours == failed ]]; then
    fail "$shape: boolconv-cli failed"
  elif [[ -n $target ]]; then
    verdict=$(verdict "$(awk -v o="$ours" -v t="$target" 'BEGIN { print (o <= t) }')")
  fi
  printf '  %-22s %9s %9s %9s %9s  %s\n' "$shape" "$ours" "$peer" "$copy" \
    "${target:+<= $target}" "$verdict"
done


# What --check adds to a conversion, on the realistic line (the whole
# process both times, so reading and writing count in both).
realistic=$work/shapes/1_realistic.txt
plain_ms=$(median_ms "$realistic" "$cli")
check_ms=$(median_ms "$realistic" "$cli" --check)
if [[ $plain_ms == failed || $check_ms == failed ]]; then
  fail "--check on 1_realistic: boolconv-cli failed"
else
  check_ratio=$(awk -v c="$check_ms" -v p="$plain_ms" 'BEGIN { printf "%.1f", (p > 0 ? c / p : 0) }')
  printf '%s on 1_realistic: %s ms, conversion alone %s ms: %sx (target <= %dx: %s)\n' \
    --check "$check_ms" "$plain_ms" "$check_ratio" "$max_check_ratio" \
    "$(verdict "$(awk -v r="$check_ratio" -v m="$max_check_ratio" 'BEGIN { print (r <= m) }')")"
fi

exit "$failed"
