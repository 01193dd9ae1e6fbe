#!/bin/bash
# One shard of a sweep per task of a Slurm array job (docs/EXPERIMENTS.md):
#   sbatch --array=0-(N-1) slurm-sweep.sh OUTDIR SWEEP-OPTIONS...
# Task I runs --shard I/N into OUTDIR/shard-I.csv on the task's CPUs, one unless sbatch is given
# --cpus-per-task (so the options give no --shard, --out or --jobs); a task submitted again after
# it was stopped (pre-empted, out of time) resumes. The task's log gets a progress line every
# minute (--progress-every). zelmora-batch is taken from PATH.
#SBATCH --job-name=zelmora-sweep
#SBATCH --output=slurm-%A_%a.out
set -euo pipefail

if [ $# -lt 1 ] || [ -z "${SLURM_ARRAY_TASK_ID:-}" ]; then
  echo "usage: sbatch --array=0-(N-1) $0 OUTDIR SWEEP-OPTIONS..." >&2
  exit 2
fi
out=$1
shift
# An unset seed would let every shard draw its own: the shards would belong to different sweeps.
case " $* " in
  *" --seed "* | *" --seed="*) ;;
  *) echo "$0: give --seed, the same for every shard" >&2; exit 2 ;;
esac
# Shards are numbered 0..N-1: the array must be 0-(N-1), without gaps.
if [ "$SLURM_ARRAY_TASK_MIN" -ne 0 ] || [ "$SLURM_ARRAY_TASK_MAX" -ne $((SLURM_ARRAY_TASK_COUNT - 1)) ]; then
  echo "$0: submit with --array=0-$((SLURM_ARRAY_TASK_COUNT - 1))" >&2
  exit 2
fi

shard="$SLURM_ARRAY_TASK_ID/$SLURM_ARRAY_TASK_COUNT"
csv="$out/shard-$SLURM_ARRAY_TASK_ID.csv"
resume=()
if [ -e "${csv%.csv}.json" ]; then resume=(--resume); fi
mkdir -p "$out"
exec zelmora-batch "$@" --jobs "${SLURM_CPUS_PER_TASK:-1}" --shard "$shard" --out "$csv" "${resume[@]}"
