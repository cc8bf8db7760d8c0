#!/usr/bin/env bash
# Starts a real single-node Slurm on this machine (Debian's slurm-wlm and munge, configured for
# localhost, no cgroups), for trying and testing the workflow's Slurm profile:
#   scripts/slurm-local.sh start     installs what is missing, writes the configuration, starts
#                                    munged, slurmctld and slurmd, waits for the node
#   scripts/slurm-local.sh stop
# Needs root (it writes /etc/slurm and /etc/munge).
set -euo pipefail

stop() {
    pkill -x slurmd 2>/dev/null || true
    pkill -x slurmctld 2>/dev/null || true
    pkill -x munged 2>/dev/null || true
}

case "${1:-start}" in
    stop) stop; exit 0 ;;
    start) ;;
    *) echo "usage: scripts/slurm-local.sh start|stop" >&2; exit 2 ;;
esac

missing=()
for p in slurm-wlm munge; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
stop

# munge: a key of its own, daemon as root (no systemd here).
mkdir -p /etc/munge /var/lib/munge /var/log/munge /run/munge
[ -s /etc/munge/munge.key ] || dd if=/dev/urandom of=/etc/munge/munge.key bs=1024 count=1 2>/dev/null
chmod 400 /etc/munge/munge.key
munged --force

host=$(hostname -s)
cpus=$(nproc)
memory=$(awk '/MemTotal/ { print int($2 / 1024 * 0.8) }' /proc/meminfo)
mkdir -p /etc/slurm /var/spool/slurmctld /var/spool/slurmd /var/log/slurm
cat > /etc/slurm/slurm.conf <<CONF
ClusterName=local
SlurmctldHost=$host
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
StateSaveLocation=/var/spool/slurmctld
SlurmdSpoolDir=/var/spool/slurmd
SlurmctldPidFile=/run/slurmctld.pid
SlurmdPidFile=/run/slurmd.pid
SlurmctldLogFile=/var/log/slurm/slurmctld.log
SlurmdLogFile=/var/log/slurm/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_Core_Memory
ReturnToService=2
MpiDefault=none
NodeName=$host CPUs=$cpus RealMemory=$memory State=UNKNOWN
PartitionName=local Nodes=$host Default=YES MaxTime=INFINITE State=UP
CONF
slurmctld
slurmd
for _ in $(seq 30); do
    if sinfo -h -o "%T" 2>/dev/null | grep -qE "idle|mixed|allocated"; then
        sinfo
        exit 0
    fi
    sleep 1
done
echo "the Slurm node did not come up; see /var/log/slurm/" >&2
sinfo >&2 || true
exit 1
