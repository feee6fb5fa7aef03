#!/usr/bin/env bash
# Runs the benchmark workloads and prints wall time (median of the runs), peak memory and
# throughput; where GDAL's tools can do the same work (and are installed), it times them in
# the same rounds, alternating with the program, and prints the ratio. Not run by CI.
#
#   bench/run.sh [workload ...]      (default: every workload)
#   RUNS=5 bench/run.sh regrid
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="$top/build"
runs="${RUNS:-3}"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target TervalaGridCreate bench_generate bench_measure >/dev/null
workloads=("$@")
if [ "${#workloads[@]}" -eq 0 ]; then workloads=(same-grid regrid points polygons model-cell model-cell-table model-middle model-middle-table); fi
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
printf '%-18s %9s %9s %10s %9s %8s\n' workload seconds "peak MiB" "Mcells/s" "GDAL s" ratio
for w in "${workloads[@]}"; do
  dir="$build/bench/$w"
  rm -rf "$dir"
  mkdir -p "$dir"
  cells=$("$build/bench_generate" "$w" "$dir" | awk '/^cells/ {print $2}')
  # A workload that reads a table file gets it from a searching run first (not timed).
  if [ -f "$dir/prepare.pcf" ]; then (cd "$dir" && "$build/TervalaGridCreate" IN=prepare.pcf OU=prepare.lst >/dev/null); fi
  gdal=""
  if [ -f "$dir/gdal.cmd" ] && command -v gdalinfo >/dev/null 2>&1; then gdal="$(cat "$dir/gdal.cmd")"; fi
  ours=() theirs=() mib=0
  for ((k = 0; k < runs; k++)); do
    read -r secs m < <("$build/bench_measure" 1 "$dir" "$build/TervalaGridCreate")
    ours+=("$secs")
    mib=$(awk -v a="$mib" -v b="$m" 'BEGIN { print (b > a ? b : a) }')
    if [ -n "$gdal" ]; then
      # shellcheck disable=SC2086
      read -r gsecs _ < <("$build/bench_measure" 1 "$dir" $gdal)
      theirs+=("$gsecs")
    fi
  done
  secs=$(printf '%s\n' "${ours[@]}" | median)
  rate=$(awk -v c="$cells" -v s="$secs" 'BEGIN { printf "%.1f", c / s / 1e6 }')
  gsecs="-" ratio="-"
  if [ -n "$gdal" ]; then
    gsecs=$(printf '%s\n' "${theirs[@]}" | median)
    ratio=$(awk -v a="$secs" -v b="$gsecs" 'BEGIN { printf "%.2f", a / b }')
  fi
  printf '%-18s %9s %9s %10s %9s %8s\n' "$w" "$secs" "$mib" "$rate" "$gsecs" "$ratio"
done
