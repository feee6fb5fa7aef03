#!/usr/bin/env bash
# Runs the benchmark workloads and prints a table: wall time (median of the runs), peak memory
# beside what the grids themselves need, and throughput; where GDAL's tools can do the same
# work (and are installed) it times them in the same rounds, alternating with the program, and
# prints the ratio. With SCALING=1 it also times each workload with twice the structure's cells
# and, separately, twice the input, in the same rounds, and prints the factors. Not run by CI.
#
#   bench/run.sh [workload ...]              (default: every workload)
#   RUNS=5 SCALING=1 bench/run.sh regrid
#   SAMPLES=1 bench/run.sh points             (every timing of every round on stderr too)
#   ARGS=SYNC=YES bench/run.sh same-grid      (run-string parameters for the program)
#   WITH=SYNC=YES bench/run.sh same-grid      (the program with these parameters takes GDAL's
#                                              place: timed in the same rounds, ratio with/without)
#   CHECK=1 bench/run.sh [workload ...]       (no timing: runs each workload once and compares
#                                              the output files' checksums with bench/checksums.txt)
#   RECORD=1 bench/run.sh [workload ...]      (the same, but writes the checksums into the list)
#   CHECK=1 also sweeps some 10^8 float bit patterns through the ASC value formatter against the
#   first one (bench/ascsweep.cpp; STEP=41 by default, SEED moves the start).
#
# The floor of a workload is the time to read its input files and write as many bytes as its
# output holds (cat of the inputs to /dev/null, head -c of /dev/zero into a file), with the
# inputs in the page cache; it is timed in the same rounds as the program, alternating with it.
#   bench/run.sh national                     (not in the default list: bench/national.sh)
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="$top/build"
runs="${RUNS:-3}"
seed="${SEED:-20261208}"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target TervalaGridCreate bench_generate bench_measure >/dev/null
workloads=("$@")
if [ "${#workloads[@]}" -eq 0 ]; then
  workloads=(same-grid asc-write tif-read regrid points polygons model-cell model-cell-table model-middle model-middle-table mixed)
fi
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# check <workload>: runs it once and compares (or, with RECORD=1, records) the checksums of
# its output files. The run's listing carries the date and is left out.
sums="$top/bench/checksums.txt"
check() {
  local w=$1 dir="$build/bench/check-$1" bad=0
  rm -rf "$dir"
  mkdir -p "$dir"
  "$build/bench_generate" "$w" "$dir" "$seed" 1 1 >/dev/null
  if [ -f "$dir/prepare.pcf" ]; then (cd "$dir" && "$build/TervalaGridCreate" IN=prepare.pcf OU=prepare.lst >/dev/null 2>&1); fi
  if [ -f "$dir/prepare.sh" ]; then (cd "$dir" && bash prepare.sh); fi
  # shellcheck disable=SC2086
  (cd "$dir" && "$build/TervalaGridCreate" ${ARGS:-} >/dev/null 2>&1)
  local now
  now=$(cd "$dir" && md5sum result.* | awk -v w="$w" '{ print w, $2, $1 }')
  if [ "${RECORD:-0}" = "1" ]; then
    touch "$sums"
    { grep -v "^$w " "$sums" || true; echo "$now"; } | sort >"$sums.new"
    mv "$sums.new" "$sums"
    echo "$now"
  else
    local want
    want=$(grep "^$w " "$sums" || true)
    if [ "$now" = "$want" ]; then
      echo "$w: same bytes"
    else
      echo "$w: DIFFERENT"
      diff <(echo "$want") <(echo "$now") || true
      bad=1
    fi
  fi
  rm -rf "$dir"
  return $bad
}

# place <workload> <area> <input> <dir>: generates the workload into dir, prepares it and runs it
# once untimed; prints its cells and the MiB its grids need.
place() {
  local w=$1 area=$2 input=$3 dir=$4
  rm -rf "$dir"
  mkdir -p "$dir"
  local generated
  generated=$("$build/bench_generate" "$w" "$dir" "$seed" "$area" "$input")
  # A workload that reads a table file gets it from a searching run first (not timed).
  if [ -f "$dir/prepare.pcf" ]; then (cd "$dir" && "$build/TervalaGridCreate" IN=prepare.pcf OU=prepare.lst >/dev/null 2>&1); fi
  # A workload whose input GDAL's tools make (a GeoTIFF) gets it here (not timed).
  if [ -f "$dir/prepare.sh" ]; then (cd "$dir" && bash prepare.sh); fi
  # The inputs, for the floor: every file but the commands and what prepares them.
  (cd "$dir" && ls | grep -Ev '^(gdal\.|prepare\.|DEVICE\.CNF$|TervalaGridCreate\.PCF$)') >"$dir/.inputs"
  # shellcheck disable=SC2086
  (cd "$dir" && "$build/TervalaGridCreate" ${ARGS:-} >/dev/null 2>&1)
  awk '/^cells/ {c = $2} /^need/ {n = $2} END {printf "%s %.0f\n", c, n / 1048576}' <<<"$generated"
}

# timed <dir> [program ...]: one timed run in dir (the program by default), its output removed
# first and written files flushed to disk, so that one run's write-back does not slow the next;
# prints "seconds MiB". What the run wrote goes right after it, before it is written back: a
# round writes a gigabyte or more with the doubled workloads, and flushing and freeing it had
# slowed the runs after it.
timed() {
  local dir=$1
  shift
  rm -f "$dir"/result.* "$dir/floor.out" "$dir"/gdal.asc* "$dir"/gdal.bil "$dir"/gdal.hdr "$dir"/gdal.prj "$dir"/gdal.tif
  sync
  if [ $# -eq 0 ]; then
    # shellcheck disable=SC2086
    "$build/bench_measure" 1 "$dir" "$build/TervalaGridCreate" ${ARGS:-}
  else
    "$build/bench_measure" 1 "$dir" "$@"
  fi
  rm -f "$dir"/result.* "$dir/floor.out" "$dir"/gdal.asc* "$dir"/gdal.bil "$dir"/gdal.hdr "$dir"/gdal.prj "$dir"/gdal.tif
}

# measure <workload>: prints "seconds MiB cells gdal-seconds need-MiB floor-seconds" and, with
# SCALING=1, the seconds with twice the structure's cells and with twice the input. Every
# column is timed in the same rounds, alternating, so that a change in the machine's pace
# during a round touches them alike.
measure() {
  local w=$1
  local dir="$build/bench/$w" cells need
  read -r cells need < <(place "$w" 1 1 "$dir")
  local doubled=()
  if [ "${SCALING:-0}" = "1" ]; then
    place "$w" 2 1 "$dir-x2-1" >/dev/null
    place "$w" 1 2 "$dir-x1-2" >/dev/null
    doubled=("$dir-x2-1" "$dir-x1-2")
  fi
  # The floor reads the inputs and writes as many bytes as the output held in the untimed first
  # run.
  local inputs=()
  while IFS= read -r f; do inputs+=("$f"); done <"$dir/.inputs"
  local outBytes
  outBytes=$(cd "$dir" && cat result.* | wc -c)
  local floorCmd="cat ${inputs[*]} >/dev/null; head -c $outBytes /dev/zero >floor.out"
  local gdal=""
  if [ -n "${WITH:-}" ]; then
    gdal="$build/TervalaGridCreate ${ARGS:-} $WITH"
  elif [ -f "$dir/gdal.cmd" ] && command -v gdalinfo >/dev/null 2>&1; then
    gdal="$(cat "$dir/gdal.cmd")"
  fi
  local ours=() theirs=() floors=() area2=() input2=() mib=0 secs m gsecs fsecs
  for ((k = 0; k < runs; k++)); do
    read -r fsecs _ < <(timed "$dir" sh -c "$floorCmd")
    floors+=("$fsecs")
    read -r secs m < <(timed "$dir")
    ours+=("$secs")
    mib=$(awk -v a="$mib" -v b="$m" 'BEGIN { print (b > a ? b : a) }')
    if [ -n "$gdal" ]; then
      # shellcheck disable=SC2086
      read -r gsecs _ < <(timed "$dir" $gdal)
      theirs+=("$gsecs")
    fi
    if [ ${#doubled[@]} -gt 0 ]; then
      read -r secs _ < <(timed "${doubled[0]}")
      area2+=("$secs")
      read -r secs _ < <(timed "${doubled[1]}")
      input2+=("$secs")
    fi
  done
  secs=$(printf '%s\n' "${ours[@]}" | median)
  gsecs="-"
  if [ -n "$gdal" ]; then gsecs=$(printf '%s\n' "${theirs[@]}" | median); fi
  fsecs=$(printf '%s\n' "${floors[@]}" | median)
  local s2="-" s3="-"
  if [ ${#doubled[@]} -gt 0 ]; then
    s2=$(printf '%s\n' "${area2[@]}" | median)
    s3=$(printf '%s\n' "${input2[@]}" | median)
  fi
  [ -z "${SAMPLES:-}" ] || echo "$w: floor ${floors[*]} / ours ${ours[*]} / gdal ${theirs[*]} / x2 ${area2[*]} / in2 ${input2[*]}" >&2
  echo "$secs $mib $cells $gsecs $need $fsecs $s2 $s3"
  rm -rf "$dir" "${doubled[@]}"
}

if [ "${CHECK:-0}" = "1" ] || [ "${RECORD:-0}" = "1" ]; then
  bad=0
  if [ "${CHECK:-0}" = "1" ]; then
    cmake --build "$build" --target bench_ascsweep >/dev/null
    "$build/bench_ascsweep" "${STEP:-41}" "$seed" || bad=1
  fi
  for w in "${workloads[@]}"; do check "$w" || bad=1; done
  exit $bad
fi

other="GDAL s"
[ -z "${WITH:-}" ] || other="with s"
if [ "${SCALING:-0}" = "1" ]; then
  printf '%-19s %8s %8s %7s %9s %9s %9s %8s %7s %8s %8s\n' workload seconds "floor s" "x floor" "peak MiB" "need MiB" "Mcells/s" "$other" ratio "cells x2" "input x2"
else
  printf '%-19s %8s %8s %7s %9s %9s %9s %8s %7s\n' workload seconds "floor s" "x floor" "peak MiB" "need MiB" "Mcells/s" "$other" ratio
fi
for w in "${workloads[@]}"; do
  # The national workload keeps its inputs (14 GB) between runs and adds tiles through Slurm.
  if [ "$w" = national ]; then
    bash "$top/bench/national.sh"
    continue
  fi
  read -r secs mib cells gsecs need fsecs s2 s3 < <(measure "$w")
  xfloor=$(awk -v a="$secs" -v b="$fsecs" 'BEGIN { printf "%.2f", a / b }')
  rate=$(awk -v c="$cells" -v s="$secs" 'BEGIN { printf "%.1f", c / s / 1e6 }')
  ratio="-"
  if [ "$gsecs" != "-" ]; then ratio=$(awk -v a="$secs" -v b="$gsecs" 'BEGIN { printf "%.2f", a / b }'); fi
  # With WITH=, the ratio is the time with the parameters over the time without.
  if [ "$gsecs" != "-" ] && [ -n "${WITH:-}" ]; then ratio=$(awk -v a="$gsecs" -v b="$secs" 'BEGIN { printf "%.2f", a / b }'); fi
  if [ "${SCALING:-0}" = "1" ]; then
    f2=$(awk -v a="$s2" -v b="$secs" 'BEGIN { printf "%.2f", a / b }')
    f3=$(awk -v a="$s3" -v b="$secs" 'BEGIN { printf "%.2f", a / b }')
    printf '%-19s %8s %8s %7s %9s %9s %9s %8s %7s %8s %8s\n' "$w" "$secs" "$fsecs" "$xfloor" "$mib" "$need" "$rate" "$gsecs" "$ratio" "$f2" "$f3"
  else
    printf '%-19s %8s %8s %7s %9s %9s %9s %8s %7s\n' "$w" "$secs" "$fsecs" "$xfloor" "$mib" "$need" "$rate" "$gsecs" "$ratio"
  fi
done
