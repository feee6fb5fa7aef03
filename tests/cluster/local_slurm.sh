#!/usr/bin/env bash
# A single-node Slurm for tests and the bench, to be sourced: start_local_slurm <folder> starts
# munged (when it is not running) and slurmctld and slurmd in the background, on ports of
# their own, with configuration, state and logs in <folder>, and exports SLURM_CONF. Their
# process ids go to the array slurm_pids; stop_local_slurm stops them. On failure it returns 1
# with the reason in slurm_reason. Needs root, slurm-wlm and munge.
slurm_pids=()
slurm_reason=""

start_local_slurm() {
  local work=$1 tool
  for tool in slurmctld slurmd sbatch squeue sinfo munged; do
    if ! command -v "$tool" > /dev/null; then
      slurm_reason="$tool is not installed (apt-get install slurm-wlm munge)"
      return 1
    fi
  done
  if [ "$(id -u)" -ne 0 ]; then
    slurm_reason="the Slurm daemons are started as root here, and this is not root"
    return 1
  fi
  # munge: Debian's package made the key; the daemon runs as its own user.
  if ! pgrep -x munged > /dev/null; then
    mkdir -p /run/munge && chown munge:munge /run/munge && chmod 755 /run/munge
    if ! runuser -u munge -- /usr/sbin/munged > "$work/munged.log" 2>&1; then
      slurm_reason="munged could not start: $(cat "$work/munged.log")"
      return 1
    fi
  fi
  local host port
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
  slurm_pids+=($!)
  slurmd -D > "$work/log/slurmd.out" 2>&1 &
  slurm_pids+=($!)
  local _
  for _ in $(seq 1 60); do
    sinfo -h -o '%t' 2> /dev/null | grep -q -E '^(idle|mix|alloc)' && return 0
    sleep 0.5
  done
  tail -n 5 "$work/log/"*.log "$work/log/"*.out 2> /dev/null
  slurm_reason="the Slurm daemons did not start on this machine"
  return 1
}

stop_local_slurm() {
  local pid
  for pid in "${slurm_pids[@]}"; do kill "$pid" 2> /dev/null; done
  for pid in "${slurm_pids[@]}"; do wait "$pid" 2> /dev/null; done
  slurm_pids=()
}
