#!/usr/bin/env bash
# Compares two builds of the program on the benchmark workloads by processor time (user +
# system), which a machine shared with other work disturbs far less than wall time: each round
# runs the old and the new binary one after the other; prints the medians and the ratio.
# Also checks that both write the same bytes. Not run by CI.
#
#   RUNS=5 bench/compare.sh /path/to/old/TervalaGridCreate [workload ...]
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="$top/build"
runs="${RUNS:-5}"
old="$1"
shift
new="$build/TervalaGridCreate"
workloads=("$@")
[ "${#workloads[@]}" -gt 0 ] || workloads=(same-grid asc-write regrid points polygons model-cell model-middle mixed)
cmake --build "$build" --target TervalaGridCreate bench_generate >/dev/null
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# cpu <binary> <dir>: "cpu wall faults" of one run.
cpu() {
  rm -f "$2"/result.*
  (cd "$2" && /usr/bin/time -f '%U %S %e %R' "$1" 2>&1 >/dev/null | tail -1) | awk '{ printf "%.3f %.3f %d\n", $1 + $2, $3, $4 }'
}
printf '%-19s %9s %9s %6s %9s %9s %8s %8s\n' workload "old cpu" "new cpu" ratio "old wall" "new wall" "old flt" "new flt"
for w in "${workloads[@]}"; do
  dir="$build/bench/compare-$w"
  rm -rf "$dir"
  mkdir -p "$dir"
  "$build/bench_generate" "$w" "$dir" "${SEED:-20261208}" 1 1 >/dev/null
  if [ -f "$dir/prepare.pcf" ]; then (cd "$dir" && "$new" IN=prepare.pcf OU=prepare.lst >/dev/null 2>&1); fi
  if [ -f "$dir/prepare.sh" ]; then (cd "$dir" && bash prepare.sh); fi
  oc=() nc=() ow=() nw=() of=() nf=()
  for ((k = 0; k < runs; k++)); do
    read -r c t f < <(cpu "$old" "$dir")
    oc+=("$c") ow+=("$t") of+=("$f")
    a=$(cd "$dir" && cat result.* | md5sum)
    read -r c t f < <(cpu "$new" "$dir")
    nc+=("$c") nw+=("$t") nf+=("$f")
    b=$(cd "$dir" && cat result.* | md5sum)
    [ "$a" = "$b" ] || echo "$w: the two builds write different bytes" >&2
  done
  m1=$(printf '%s\n' "${oc[@]}" | median)
  m2=$(printf '%s\n' "${nc[@]}" | median)
  printf '%-19s %9s %9s %6s %9s %9s %8s %8s\n' "$w" "$m1" "$m2" "$(awk -v a="$m2" -v b="$m1" 'BEGIN { printf "%.2f", a / b }')" \
    "$(printf '%s\n' "${ow[@]}" | median)" "$(printf '%s\n' "${nw[@]}" | median)" \
    "$(printf '%s\n' "${of[@]}" | median)" "$(printf '%s\n' "${nf[@]}" | median)"
  rm -rf "$dir"
done
