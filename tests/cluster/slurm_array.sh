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
for tool in slurmctld slurmd sbatch squeue sinfo munged; do
  command -v "$tool" > /dev/null || skip "$tool is not installed (apt-get install slurm-wlm munge)"
done
[ "$(id -u)" -eq 0 ] || skip "the Slurm daemons are started as root here, and this is not root"
work="$(mktemp -d)"
chmod 755 "$work"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2> /dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

# munge: Debian's package made the key; the daemon runs as its own user.
if ! pgrep -x munged > /dev/null; then
  mkdir -p /run/munge && chown munge:munge /run/munge && chmod 755 /run/munge
  runuser -u munge -- /usr/sbin/munged > "$work/munged.log" 2>&1 || skip "munged could not start: $(cat "$work/munged.log")"
fi

# A single-node Slurm on ports of its own.
host=$(hostname -s)
port=$((20000 + $$ % 20000))
mkdir -p "$work/state" "$work/spool" "$work/log"
{
  echo "ClusterName=tervalatest"
  echo "SlurmctldHost=$host"
  echo "SlurmctldPort=$port"
  echo "SlurmdPort=$((port + 1))"
  echo "SlurmUser=root"
  echo "StateSaveLocation=$work/state"
  echo "SlurmdSpoolDir=$work/spool"
  echo "SlurmctldPidFile=$work/slurmctld.pid"
  echo "SlurmdPidFile=$work/slurmd.pid"
  echo "SlurmctldLogFile=$work/log/slurmctld.log"
  echo "SlurmdLogFile=$work/log/slurmd.log"
  echo "ProctrackType=proctrack/linuxproc"
  echo "TaskPlugin=task/none"
  echo "SelectType=select/cons_tres"
  echo "SelectTypeParameters=CR_Core_Memory"
  echo "AccountingStorageType=accounting_storage/none"
  echo "JobAcctGatherType=jobacct_gather/none"
  echo "MailProg=/bin/true"
  echo "ReturnToService=2"
  slurmd -C | head -1
  echo "PartitionName=test Nodes=ALL Default=YES MaxTime=INFINITE State=UP"
} > "$work/slurm.conf"
export SLURM_CONF="$work/slurm.conf"
slurmctld -D > "$work/log/slurmctld.out" 2>&1 &
pids+=($!)
slurmd -D > "$work/log/slurmd.out" 2>&1 &
pids+=($!)
ready=0
for _ in $(seq 1 60); do
  if sinfo -h -o '%t' 2> /dev/null | grep -q -E '^(idle|mix|alloc)'; then
    ready=1
    break
  fi
  sleep 0.5
done
if [ "$ready" -ne 1 ]; then
  tail -n 5 "$work/log/"*.log "$work/log/"*.out 2> /dev/null
  skip "the Slurm daemons did not start on this machine"
fi

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
