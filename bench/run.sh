#!/usr/bin/env bash
# Runs the benchmark workloads and prints wall time (median of the runs), peak memory and
# throughput. Not run by CI.
#
#   bench/run.sh [workload ...]      (default: every workload)
#   RUNS=5 bench/run.sh same-grid
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="$top/build"
runs="${RUNS:-3}"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target TervalaGridCreate bench_generate bench_measure >/dev/null
workloads=("$@")
if [ "${#workloads[@]}" -eq 0 ]; then workloads=(same-grid); fi
printf '%-12s %10s %10s %12s\n' workload seconds "peak MiB" "Mcells/s"
for w in "${workloads[@]}"; do
  dir="$build/bench/$w"
  rm -rf "$dir"
  mkdir -p "$dir"
  cells=$("$build/bench_generate" "$w" "$dir" | awk '/^cells/ {print $2}')
  read -r secs mib < <("$build/bench_measure" "$runs" "$dir" "$build/TervalaGridCreate")
  rate=$(awk -v c="$cells" -v s="$secs" 'BEGIN { printf "%.1f", c / s / 1e6 }')
  printf '%-12s %10s %10s %12s\n' "$w" "$secs" "$mib" "$rate"
done
