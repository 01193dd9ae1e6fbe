#!/bin/bash
# A sweep as a Slurm array job on a one-node cluster started here, merged, against the same sweep
# run on this machine: the bytes must be the same.
#
#   slurm_sweep_test.sh ZELMORA-BATCH JOB-SCRIPT
#
# The daemons (munged, slurmctld, slurmd) run in the foreground as children of this script, with
# their keys, sockets, state, spool, logs and ports in a fresh folder; they and everything they
# started are stopped when the script ends, however it ends. Exit 77 (skipped) where they cannot
# run: not root, or the packages missing.
set -uo pipefail

program=$(realpath "$1")
job_script=$(realpath "$2")
skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*"; show_logs; exit 1; }

# The documentation shows the job script as it is.
docs="$(dirname "$job_script")/EXPERIMENTS.md"
diff <(awk '/^#!\/bin\/bash$/ { shown = 1 } shown && /^```$/ { exit } shown' "$docs") "$job_script" ||
  { echo "FAILED: $docs does not show $job_script as it is"; exit 1; }

[ "$(id -u)" -eq 0 ] || skip "starting munged and slurmd needs root (scripts/install-deps installs slurm-wlm and munge)"
for tool in munged munge slurmctld slurmd sbatch squeue scontrol sinfo; do
  command -v "$tool" >/dev/null || skip "$tool is missing: scripts/install-deps installs slurm-wlm and munge"
done

work=""
job=""
pids=()
trap cleanup EXIT
trap 'exit 1' INT TERM

# A short fixed base, not $TMPDIR: the sockets' paths must stay within 107 bytes.
work=$(mktemp -d /tmp/zslurm.XXXXXX) || fail "no folder in /tmp"
chmod 755 "$work"
# Every process of this test, daemons and job steps included, carries this in its environment, so
# the cleanup finds those that left their daemon's process group.
export ZELMORA_SLURM_TEST="$work"
export SLURM_CONF="$work/slurm.conf"
deadline=$((SECONDS + 150))  # the whole test; ctest's timeout is above it

show_logs() {
  for log in "$work"/*.log "$work"/logs/*; do
    [ -f "$log" ] || continue
    echo "---- $log"
    tail -n 30 "$log"
  done
}

# Whatever happens: jobs cancelled, each daemon's process group stopped, then anything still
# marked as ours (a job step that left its daemon's group) killed.
cleanup() {
  trap - EXIT INT TERM
  [ -n "$work" ] || return
  if [ -n "$job" ]; then timeout 5 scancel "$job" 2>/dev/null; fi
  for pid in "${pids[@]}"; do kill -TERM -- "-$pid" 2>/dev/null; done
  local until=$((SECONDS + 10))
  for pid in "${pids[@]}"; do
    while kill -0 "$pid" 2>/dev/null && [ $SECONDS -lt $until ]; do sleep 0.1; done
    kill -KILL -- "-$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  for env in /proc/[0-9]*/environ; do
    local pid=${env#/proc/}
    pid=${pid%/environ}
    [ "$pid" = $$ ] && continue
    grep -qzx "ZELMORA_SLURM_TEST=$work" "$env" 2>/dev/null && kill -KILL "$pid" 2>/dev/null
  done
  rm -rf "$work"
}

# Polls a condition until it holds or the time is up.
wait_for() {
  local what=$1 limit=$((SECONDS + $2))
  shift 2
  [ $limit -gt $deadline ] && limit=$deadline
  until "$@"; do
    [ $SECONDS -lt $limit ] || fail "timed out waiting for $what"
    sleep 0.2
  done
}

# A TCP port nobody listens on or is connected from, other than those given.
free_port() {
  local port
  while true; do
    port=$((20000 + RANDOM % 40000))
    case " $* " in *" $port "*) continue ;; esac
    grep -qi ":$(printf '%04X' "$port") " /proc/net/tcp /proc/net/tcp6 2>/dev/null || break
  done
  echo "$port"
}

# munge: its own key, socket, pid, seed and log.
dd if=/dev/urandom of="$work/munge.key" bs=1024 count=1 status=none
chmod 400 "$work/munge.key"
setsid munged --foreground --force --key-file="$work/munge.key" --socket="$work/munge.socket" \
  --pid-file="$work/munged.pid" --seed-file="$work/munged.seed" --log-file="$work/munged.log" \
  >"$work/munged.out" 2>&1 &
pids+=($!)
munge_works() { munge -n -S "$work/munge.socket" 2>/dev/null | unmunge -S "$work/munge.socket" >/dev/null 2>&1; }
wait_for "munged" 20 munge_works

# slurm: one node, this machine, with what slurmd finds on it.
node=$(hostname -s)
hardware=$(slurmd -C | head -n 1 | sed -e 's/^NodeName=[^ ]* //' -e 's/ RealMemory=[0-9]*//')
mkdir -p "$work/state" "$work/spool" "$work/logs" "$work/out"
: >"$work/plugstack.conf"
ctld_port=$(free_port)
cat >"$SLURM_CONF" <<CONF
ClusterName=zelmoratest
SlurmctldHost=$node(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$(free_port "$ctld_port")
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$work/munge.socket
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
PlugStackConfig=$work/plugstack.conf
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
MpiDefault=none
ReturnToService=2
MailProg=/bin/true
NodeName=$node NodeAddr=127.0.0.1 $hardware State=UNKNOWN
PartitionName=test Nodes=$node Default=YES MaxTime=INFINITE State=UP
CONF
setsid slurmctld -D -i -f "$SLURM_CONF" >"$work/slurmctld.out" 2>&1 &
pids+=($!)
setsid slurmd -D -f "$SLURM_CONF" -N "$node" >"$work/slurmd.out" 2>&1 &
pids+=($!)
node_idle() { [ "$(timeout 5 sinfo -h -n "$node" -o %T 2>/dev/null)" = idle ]; }
wait_for "the node to come up idle" 40 node_idle

# The sweep: 5 runs in 3 shards, so one shard holds one run and the others two.
shards=3
options=(--seed 424242 --grid 20x20 --steps 30 --record-every 7 --set threshold=2:6:1)
export PATH="$(dirname "$program"):$PATH"
job=$(cd "$work/out" && timeout 10 sbatch --parsable --array=0-$((shards - 1)) \
  --output="$work/logs/task-%a.out" "$job_script" "$work/out/shards" "${options[@]}") ||
  fail "sbatch refused the job"
job=${job%%;*}
queue_empty() { [ -z "$(timeout 5 squeue -h -j "$job" 2>/dev/null)" ] && timeout 5 squeue -h >/dev/null 2>&1; }
wait_for "the array job $job to finish" 90 queue_empty
for ((task = 0; task < shards; task++)); do
  state=$(timeout 5 scontrol -o show job "${job}_$task" 2>/dev/null | grep -o 'JobState=[A-Z_]* .*ExitCode=[0-9:]*')
  case "$state" in
    "JobState=COMPLETED "*"ExitCode=0:0") ;;
    *) fail "array task $task ended as '${state:-unknown}'" ;;
  esac
done

"$program" "${options[@]}" --quiet --out "$work/single.csv" || fail "the sweep on one machine failed"
shard_files=("$work"/out/shards/shard-*.csv)
[ ${#shard_files[@]} -eq $shards ] || fail "expected $shards shard files, found ${#shard_files[@]}"

# merge gives the bytes of the sweep on one machine.
"$program" merge "$work/merged.csv" "${shard_files[@]}" >"$work/merge.log" 2>&1
status=$?
[ $status -eq 0 ] || fail "merge failed: $(cat "$work/merge.log")"
cmp "$work/merged.csv" "$work/single.csv" || fail "the merged shards differ from the sweep on one machine"
echo "the sweep's $shards shards, run as a Slurm array and merged, equal the sweep on one machine"
