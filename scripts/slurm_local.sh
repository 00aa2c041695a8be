#!/usr/bin/env bash
# A one-node Slurm on this machine, to run and measure the cluster path of
# workflow/Snakefile here: munge, slurmctld and slurmd on 127.0.0.1, no
# accounting database, one partition "local" with this machine's cores.
#
#   sudo bash scripts/slurm_local.sh start        # installs slurm-wlm and munge if missing
#   export SLURM_CONF=/tmp/varnel-slurm/slurm.conf
#   snakemake --snakefile workflow/Snakefile --configfile my_study.yaml \
#       --cluster "sbatch --partition=local --cpus-per-task=1 --mem=2G" --jobs 100
#   sudo bash scripts/slurm_local.sh stop
#
#   sudo bash scripts/slurm_local.sh run COMMAND...   # start, run COMMAND with SLURM_CONF set, stop
#
# The daemons run as root in VARNEL_SLURM_DIR (default /tmp/varnel-slurm),
# which holds the configuration, their state, logs and process ids; `stop`
# ends exactly those processes, by id.
set -euo pipefail

dir=${VARNEL_SLURM_DIR:-/tmp/varnel-slurm}
conf=$dir/slurm.conf

install_if_missing() {
  local missing=()
  for p in slurm-wlm munge; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "slurm_local.sh: installing ${missing[*]}" >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
  fi
}

wait_for() {  # wait_for SECONDS COMMAND...: until COMMAND succeeds
  local limit=$1
  shift
  for _ in $(seq 1 $((limit * 5))); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.2
  done
  return 1
}

start() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "slurm_local.sh: run as root (the daemons and the packages need it)" >&2
    exit 1
  fi
  install_if_missing
  if [ -f "$dir/slurmd.pid" ] && kill -0 "$(cat "$dir/slurmd.pid")" 2>/dev/null; then
    echo "slurm_local.sh: already running (SLURM_CONF=$conf)" >&2
    return 0
  fi
  mkdir -p "$dir/state" "$dir/spool" "$dir/munge"
  chmod 0711 "$dir/munge"
  [ -f "$dir/munge/munge.key" ] || {
    dd if=/dev/urandom of="$dir/munge/munge.key" bs=1024 count=1 status=none
    chmod 0400 "$dir/munge/munge.key"
  }
  munged --force --foreground --key-file="$dir/munge/munge.key" \
    --socket="$dir/munge/munge.socket" --pid-file="$dir/munge/munged.pid" \
    --log-file="$dir/munge/munged.log" --seed-file="$dir/munge/munged.seed" \
    >>"$dir/munged.out" 2>&1 &
  echo $! >"$dir/munged.pid"

  local node cpus memory
  node=$(hostname -s)
  cpus=$(nproc)
  memory=$(awk '/MemTotal/ { printf "%d", $2 / 1024 * 0.9 }' /proc/meminfo)
  cat >"$conf" <<END
ClusterName=varnel-local
SlurmctldHost=$node(127.0.0.1)
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$dir/munge/munge.socket
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.daemon.pid
SlurmdPidFile=$dir/slurmd.daemon.pid
SlurmctldLogFile=$dir/slurmctld.log
SlurmdLogFile=$dir/slurmd.log
SlurmctldPort=6817
SlurmdPort=6818
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_Core_Memory
MpiDefault=none
ReturnToService=2
NodeName=$node NodeAddr=127.0.0.1 CPUs=$cpus RealMemory=$memory State=UNKNOWN
PartitionName=local Nodes=$node Default=YES MaxTime=INFINITE State=UP
END
  SLURM_CONF=$conf slurmctld -D -f "$conf" >>"$dir/slurmctld.out" 2>&1 &
  echo $! >"$dir/slurmctld.pid"
  wait_for 30 env SLURM_CONF="$conf" scontrol ping ||
    { echo "slurm_local.sh: slurmctld did not start (see $dir/slurmctld.log)" >&2; stop; exit 1; }
  SLURM_CONF=$conf slurmd -D -f "$conf" -N "$node" >>"$dir/slurmd.out" 2>&1 &
  echo $! >"$dir/slurmd.pid"
  wait_for 30 bash -c "SLURM_CONF='$conf' sinfo -h -o %T | grep -qE '^(idle|mixed|allocated)'" ||
    { echo "slurm_local.sh: slurmd did not register (see $dir/slurmd.log)" >&2; stop; exit 1; }
  echo "slurm_local.sh: one-node Slurm up; export SLURM_CONF=$conf" >&2
}

stop() {
  local name pid
  for name in slurmd slurmctld munged; do
    [ -f "$dir/$name.pid" ] || continue
    pid=$(cat "$dir/$name.pid")
    if kill -0 "$pid" 2>/dev/null; then
      kill "$pid"
      for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
    fi
    rm -f "$dir/$name.pid"
  done
  echo "slurm_local.sh: stopped" >&2
}

case "${1:-}" in
  start) start ;;
  stop) stop ;;
  run)
    shift
    start
    trap stop EXIT
    SLURM_CONF=$conf "$@"
    ;;
  *)
    echo "usage: slurm_local.sh start | stop | run COMMAND..." >&2
    exit 2
    ;;
esac
