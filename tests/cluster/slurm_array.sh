#!/usr/bin/env bash
# The cluster example on a real Slurm: a single-node Slurm is started here (daemons in the
# background, configuration, state and logs in a temporary folder), the tiles of a run with
# every kind of set go through examples/cluster/submit.sh as a job array, the dependent check
# job must pass, and the tiles stacked must be the single run's grid byte for byte. When Slurm
# is not installed or its daemons cannot start here, the test says so and is skipped (77).
set -uo pipefail
program=$1
mkinput=$2
cluster=$3
here="$(cd "$(dirname "$0")" && pwd)"
skip() {
  echo "SKIPPED: $*"
  exit 77
}
# shellcheck source=tests/cluster/local_slurm.sh
source "$here/local_slurm.sh"
work="$(mktemp -d)"
chmod 755 "$work"
cleanup() {
  stop_local_slurm
  rm -rf "$work"
}
trap cleanup EXIT
start_local_slurm "$work" || skip "$slurm_reason"

# The run: grids, points, polygons and model uses, on a structure of 50 rows.
run="$work/run"
mkdir -p "$run"
cp -r "$here/../threads/mixed/." "$run"
(
  cd "$run"
  "$mkinput" lga warped.lga.txt warped.lga
  "$mkinput" cco warped.cco.txt warped.cco
  "$mkinput" map warped.map.txt warped.map
  sed 's/,TABLE-CREATE=[a-z.]*$//' TervalaGridCreate.PCF > tiles.pcf
  mkdir single
  sed 's/^STOREFILE,BIL,result$/STOREFILE,BIL,single\/result/' tiles.pcf > single.pcf
  "$program" IN=single.pcf OUTPUT=single.out > /dev/null
) || { echo "the single run failed"; exit 1; }
chmod -R a+rwX "$work"
started=$(date +%s.%N)
jobs=$(cd "$run" && TERVALA_PROGRAM="$program" "$cluster/submit.sh" tiles.pcf 4 64) || { echo "sbatch failed"; exit 1; }
read -r array check <<< "$jobs"
for _ in $(seq 1 240); do
  [ -z "$(squeue -h -j "$array,$check" 2> /dev/null)" ] && break
  sleep 0.5
done
ended=$(date +%s.%N)
status=0
if [ -n "$(squeue -h -j "$array,$check" 2> /dev/null)" ]; then
  echo "the jobs did not end within two minutes:"
  squeue
  status=1
fi
cat "$run/tervala-check.log" 2> /dev/null || { echo "the check job wrote no log"; status=1; }
grep -q 'tiles complete' "$run/tervala-check.log" 2> /dev/null || status=1
cat "$run"/result_t*.BIL 2> /dev/null | cmp -s - "$run/single/result.BIL" || {
  echo "the tiles stacked differ from the single run"
  status=1
}
if [ "$status" -ne 0 ]; then
  tail -n 20 "$run"/tervala-tile-*.log "$work/log/slurmctld.log" 2> /dev/null
  exit 1
fi
echo "4 tiles through Slurm in $(awk -v a="$started" -v b="$ended" 'BEGIN { printf "%.1f", b - a }') s: the mosaic is the single run"
