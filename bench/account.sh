#!/usr/bin/env bash
# What a source grid, a run report and pictures cost: the mixed workload run alternately
# without them and with all three (SOURCEFILE as a 16-bit BIL, REPORT=run.json,
# PICTURE=mixed.png), RUNS rounds (default 7), and the medians of the wall time and of the
# processor time (user + system, all threads), which a machine shared with other work
# disturbs less. Not run by CI.
#
#   RUNS=9 bench/account.sh [workload]
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="$top/build"
runs="${RUNS:-7}"
workload="${1:-mixed}"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target TervalaGridCreate bench_generate bench_measure >/dev/null
dir="$build/bench/account-$workload"
rm -rf "$dir"
mkdir -p "$dir"
"$build/bench_generate" "$workload" "$dir" "${SEED:-20261208}" 1 1 >/dev/null
{ cat "$dir/TervalaGridCreate.PCF"; echo "SOURCEFILE,BIL,sources"; } > "$dir/account.pcf"
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# run <outputs...>: prints "wall cpu" seconds of one run in the workload's folder.
run() {
  local TIMEFORMAT='%R %U %S'
  # The program's own step lines (standard error) stay out of the timing's output.
  { time (cd "$dir" && "$build/TervalaGridCreate" "$@" >/dev/null 2>&1); } 2>&1 | awk '{ printf "%s %.3f\n", $1, $2 + $3 }'
}
pw=() pc=() aw=() ac=()
plain() {
  sync
  read -r w c < <(run OU=plain.out)
  pw+=("$w")
  pc+=("$c")
}
account() {
  sync
  read -r w c < <(run IN=account.pcf OU=account.out REPORT=run.json PICTURE=mixed.png)
  aw+=("$w")
  ac+=("$c")
}
# Rounds alternate which goes first (ABBA), so that a machine growing busier or quieter over
# the rounds weighs on both alike.
for ((k = 0; k < runs; k++)); do
  if ((k % 2 == 0)); then plain; account; else account; plain; fi
done
echo "without, wall: ${pw[*]}"
echo "with,    wall: ${aw[*]}"
echo "without, cpu:  ${pc[*]}"
echo "with,    cpu:  ${ac[*]}"
for kind in wall cpu; do
  if [ $kind = wall ]; then p=$(printf '%s\n' "${pw[@]}" | median); a=$(printf '%s\n' "${aw[@]}" | median);
  else p=$(printf '%s\n' "${pc[@]}" | median); a=$(printf '%s\n' "${ac[@]}" | median); fi
  awk -v k="$kind" -v p="$p" -v a="$a" 'BEGIN { printf "median %s time: without %.3f s, with source grid, report and pictures %.3f s: %+.1f %%\n", k, p, a, 100 * (a - p) / p }'
done
# The cost round by round (each round's two runs close together in time): its median.
for kind in wall cpu; do
  if [ $kind = wall ]; then p=("${pw[@]}") a=("${aw[@]}"); else p=("${pc[@]}") a=("${ac[@]}"); fi
  for ((k = 0; k < runs; k++)); do awk -v p="${p[$k]}" -v a="${a[$k]}" 'BEGIN { print 100 * (a - p) / p }'; done |
    median | awk -v k="$kind" '{ printf "median of the rounds'"'"' own costs, %s time: %+.1f %%\n", k, $1 }'
done
grep '^ Time' "$dir/account.out" | tail -6
rm -rf "$dir"
