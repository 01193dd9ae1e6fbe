#!/bin/bash
# A sweep as a Slurm array job on a one-node cluster started here, submitted and merged by the
# commands the documentation shows, against the same sweep run on this machine: the bytes must be
# the same.
#
#   slurm_sweep_test.sh BIN-DIR JOB-SCRIPT EXPERIMENTS.md
#
# BIN-DIR holds the zelmora-batch to run: the unpacked package's usr/bin, or a build tree's batch
# folder. It comes first on a PATH like the one an installed package is found on, as the docs say.
# JOB-SCRIPT stands where the docs' commands name the package's job script.
#
# The daemons (munged, slurmctld, slurmd) run in the foreground as children of this script, with
# their keys, sockets, state, spool, logs and ports in a fresh folder; they and everything they
# started are stopped when the script ends, however it ends. Exit 77 (skipped) where they cannot
# run: not root, or the packages missing.
set -uo pipefail

bin_dir=$(realpath "$1")
job_script=$(realpath "$2")
docs=$(realpath "$3")
skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*"; show_logs; exit 1; }

# The documentation shows the job script as it is.
diff <(awk '/^#!\/bin\/bash$/ { shown = 1 } shown && /^```$/ { exit } shown' "$docs") "$job_script" ||
  { echo "FAILED: $docs does not show $job_script as it is"; exit 1; }

# The docs' commands, continued lines joined: the sh block that submits the array.
commands=$(awk '/^```sh$/ { block = ""; inside = 1; next } inside && /^```$/ { inside = 0; if (block ~ /sbatch --parsable/) { printf "%s", block; exit } next }
                inside { block = block $0 "\n" }' "$docs" | sed -e ':join' -e '/\\$/{N;s/ *\\\n */ /;b join}')
[ -n "$commands" ] || { echo "FAILED: $docs shows no sbatch command"; exit 1; }
# The same commands on a small sweep in 3 shards (5 runs: one shard holds one run, the others two),
# with the job script given.
shards=3
options=(--seed 424242 --grid 20x20 --steps 30 --record-every 7 --set threshold=2:6:1)
replace() {
  [[ $commands == *"$1"* ]] || { echo "FAILED: the docs' commands no longer hold '$1'"; exit 1; }
  commands=${commands//"$1"/"$2"}
}
replace "--array=0-31" "--array=0-$((shards - 1))"
replace "/usr/share/doc/zelmora/examples/slurm-sweep.sh" "$job_script"
replace "--seed 20240601 --set returns-to-scale=0.9:1.3:0.05 --set threshold=2:5:1 --repeats 20 --steps 2000 --record-every 20" \
  "${options[*]}"

[ "$(id -u)" -eq 0 ] || skip "starting munged and slurmd needs root (scripts/install-deps installs slurm-wlm and munge)"
for tool in munged munge slurmctld slurmd sbatch squeue scontrol sinfo; do
  command -v "$tool" >/dev/null || skip "$tool is missing: scripts/install-deps installs slurm-wlm and munge"
done

work=""
submitted=""
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
  for log in "$work"/*.log "$work"/run/*.out; do
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
  if [ -n "$submitted" ]; then timeout 5 scancel --user "$(id -un)" 2>/dev/null; fi
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
mkdir -p "$work/state" "$work/spool"
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

# The docs' commands, run where their shards' folder is to go, find zelmora-batch on PATH.
export PATH="$bin_dir:/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"
mkdir -p "$work/run"
submitted=yes
(cd "$work/run" && timeout 20 bash -euo pipefail -c "$commands") >"$work/submit.log" 2>&1 ||
  fail "the docs' commands failed: $(cat "$work/submit.log")"
queue_empty() { [ -z "$(timeout 5 squeue -h 2>/dev/null)" ] && timeout 5 squeue -h >/dev/null 2>&1; }
wait_for "the array job and the merge to finish" 90 queue_empty
jobs=$(timeout 5 scontrol -o show job 2>/dev/null)
[ "$(grep -c . <<<"$jobs")" -eq $((shards + 1)) ] || fail "expected $shards array tasks and a merge, found: $jobs"
while read -r state; do
  case "$state" in
    "JobState=COMPLETED "*"ExitCode=0:0") ;;
    *) fail "a job ended as '${state:-unknown}'" ;;
  esac
done < <(grep -o 'JobState=[A-Z_]* .*ExitCode=[0-9:]*' <<<"$jobs")

zelmora-batch "${options[@]}" --quiet --out "$work/single.csv" || fail "the sweep on one machine failed"
shard_files=("$work"/run/out/shard-*.csv)
[ ${#shard_files[@]} -eq $shards ] || fail "expected $shards shard files, found ${#shard_files[@]}"
cmp "$work/run/out/sweep.csv" "$work/single.csv" || fail "the merged shards differ from the sweep on one machine"
echo "the sweep's $shards shards, run as a Slurm array and merged as the docs show, equal the sweep on one machine"
