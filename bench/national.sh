#!/usr/bin/env bash
# The national workload (see bench/generate.cpp): one run in bands within its MEMORY bound, the
# same at half the side for the growth with the cells, and the same as tiles through a local
# single-node Slurm. Prints, per run: wall time, CPU time (user + system), peak resident memory,
# and the disk the inputs, the output and the tiles take. Not run by CI.
#
#   bench/national.sh                     60000 x 60000 (14.4 GB of input, 14.4 GB of output,
#                                         14.4 GB of tiles), inputs generated once
#   NATIONAL_SIDE=6000 bench/national.sh  a hundredth of it, in a minute
#
# NATIONAL_DIR  where the inputs are generated and kept (default /work/bench-national): one
#               folder side-<n> per size, reused while its inputs are there
# HALF=0        skip the run at half the side (with the full size's bound, MEMORY=4096)
# TILES=n       tiles through Slurm (default 16; 0 skips them; needs root, slurm-wlm, munge)
# SINGLE=0      skip the single run (the tiles are then not compared with it)
# WHOLE=1       also run without a bound and compare the grids (small sizes only)
# KEEP=1        keep the outputs (default: removed once measured and compared)
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="$top/build"
side="${NATIONAL_SIDE:-60000}"
root="${NATIONAL_DIR:-/work/bench-national}"
tiles="${TILES:-16}"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target TervalaGridCreate bench_generate >/dev/null
program="$build/TervalaGridCreate"
mkdir -p "$root"

# generate <side> [MiB]: the inputs of one size, once; prints the folder.
generate() {
  local n=$1 dir="$root/side-$1"
  if [ ! -f "$dir/generated" ]; then
    rm -rf "$dir"
    mkdir -p "$dir"
    NATIONAL_SIDE=$n NATIONAL_MEMORY=${2:-} "$build/bench_generate" national "$dir" > "$dir/generated.tmp"
    mv "$dir/generated.tmp" "$dir/generated"
  fi
  echo "$dir"
}
gib() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1073741824 }'; }
bytes() { du -cbL "$@" 2>/dev/null | tail -1 | cut -f1; }

# timed <dir> <label> [run-string ...]: one run, its line of the table.
timed() {
  local dir=$1 label=$2
  shift 2
  sync
  /usr/bin/time -f '%e %U %S %M' -o "$dir/time.txt" "$program" "$@" > /dev/null 2>&1 ||
    { echo "$label: the run failed (status $?), see $dir" >&2; return 1; }
  grep -q ' ERROR' "$dir"/*.out && { echo "$label: the listing shows an error" >&2; return 1; }
  read -r wall user sys kib < "$dir/time.txt"
  local cells
  cells=$(awk '/^cells/ {print $2}' "$dir/generated")
  printf '%-26s %9s %9s %9.0f %10.1f %8s %8s\n' "$label" "$wall" \
    "$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.1f", u + s }')" "$(awk -v k="$kib" 'BEGIN { print k / 1024 }')" \
    "$(awk -v c="$cells" -v u="$user" -v s="$sys" 'BEGIN { printf "%.1f", (u + s) / c * 1e9 }')" \
    "$(gib "$(bytes "$dir"/elevation.* "$dir"/landuse.* "$dir"/wells.txt "$dir"/stars.gen)")" \
    "$(gib "$(bytes "$dir"/result.*)")"
}

printf '%-26s %9s %9s %9s %10s %8s %8s\n' run "wall s" "CPU s" "peak MiB" "CPU ns/cell" "in GiB" "out GiB"
if [ "${HALF:-1}" = "1" ]; then
  # At full size the half run keeps the full bound; smaller sizes scale the bound to the cells.
  half=$(generate $((side / 2)) "$([ "$side" -ge 60000 ] && echo 4096)")
  (cd "$half" && timed "$half" "$((side / 2)) x $((side / 2)), MEMORY=$(awk -F, '$1 == "MEMORY" {print $2}' "$half/DEVICE.CNF")")
  [ "${KEEP:-0}" = "1" ] || rm -f "$half"/result.*
fi
dir=$(generate "$side")
bound=$(awk -F, '$1 == "MEMORY" {print $2}' "$dir/DEVICE.CNF")
[ "${SINGLE:-1}" = "1" ] && (cd "$dir" && timed "$dir" "$side x $side, MEMORY=$bound")
if [ "${WHOLE:-0}" = "1" ]; then
  whole="$dir/whole"
  rm -rf "$whole"
  mkdir -p "$whole"
  for f in elevation.bil elevation.hdr landuse.bil landuse.hdr wells.txt stars.gen TervalaGridCreate.PCF generated; do
    ln -sf "../$f" "$whole/$f"
  done
  echo "NEWPAGE,YES" > "$whole/DEVICE.CNF"
  (cd "$whole" && timed "$whole" "$side x $side, whole")
  cmp "$whole/result.BIL" "$dir/result.BIL" && echo "the run in bands wrote the whole run's grid, byte for byte"
  rm -rf "$whole"
fi

if [ "$tiles" -gt 0 ]; then
  # shellcheck source=tests/cluster/local_slurm.sh
  source "$top/tests/cluster/local_slurm.sh"
  work="$(mktemp -d)"
  chmod 755 "$work"
  trap 'stop_local_slurm; rm -rf "$work"' EXIT
  if ! start_local_slurm "$work"; then
    echo "tiles: $slurm_reason"
  else
    rm -f "$dir"/result_t*.* "$dir"/result.vrt "$dir"/TervalaGridCreate_t*.out "$dir"/tervala-*.log
    chmod -R a+rwX "$dir"
    started=$(date +%s.%N)
    jobs=$(cd "$dir" && TERVALA_PROGRAM="$program" "$top/examples/cluster/submit.sh" TervalaGridCreate.PCF "$tiles" "$bound")
    read -r array check <<< "$jobs"
    while [ -n "$(squeue -h -j "$array,$check" 2> /dev/null)" ]; do sleep 1; done
    ended=$(date +%s.%N)
    grep -q 'tiles complete' "$dir/tervala-check.log" || { cat "$dir/tervala-check.log"; exit 1; }
    echo "$tiles tiles through Slurm ($(nproc) cores, $(sinfo -h -o '%m') MiB on the node): wall" \
      "$(awk -v a="$started" -v b="$ended" 'BEGIN { printf "%.1f", b - a }') s from submission to the checked mosaic;" \
      "tiles $(gib "$(bytes "$dir"/result_t*.*)") GiB"
    if [ -f "$dir/result.BIL" ]; then
      cat "$dir"/result_t*.BIL | cmp -s - "$dir/result.BIL" && echo "the tiles stacked are the single run's grid, byte for byte" ||
        { echo "the tiles stacked differ from the single run"; exit 1; }
    fi
    [ "${KEEP:-0}" = "1" ] || rm -f "$dir"/result_t*.* "$dir"/result.vrt "$dir"/TervalaGridCreate_t*.out "$dir"/tervala-*.log
  fi
fi
[ "${KEEP:-0}" = "1" ] || rm -f "$dir"/result.*
echo "inputs kept in $dir ($(gib "$(bytes "$dir")") GiB); remove them with rm -rf $root"
