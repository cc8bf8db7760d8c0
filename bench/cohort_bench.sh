#!/usr/bin/env bash
# The cohort workflow's own overhead per subject (engine start, job scheduling, the shell
# around each program) on local cores: a phantom study of 3 and of 30 subjects runs with one
# core and one thread per job; the overhead is the wall time beyond the sum of the jobs' own
# times (Snakemake's benchmark files), per subject. Target: under 1 s per subject.
#   bench/cohort_bench.sh [BUILD_DIR]
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$repo/build}" && pwd)
command -v snakemake >/dev/null || { echo "snakemake is not installed" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for subjects in 3 30; do
    "$build/bin/dwiphantom" -bids "$work/study$subjects" -n "$subjects" >/dev/null
    start=$(date +%s.%N)
    "$repo/scripts/cohort.sh" "$work/study$subjects" "$work/out$subjects" participant --cores 1 \
        --bin "$build/bin" \
        >/dev/null 2>&1 || true
    end=$(date +%s.%N)
    jobs=$(cat "$work"/out"$subjects"/sub-*/dwi/logs/*.benchmark.tsv | awk '$1 != "s" { sum += $1 } END { print sum }')
    awk -v n="$subjects" -v start="$start" -v end="$end" -v jobs="$jobs" 'BEGIN {
        wall = end - start;
        printf "%2d subjects: %.1f s wall, %.1f s in the programs, overhead %.2f s per subject (target < 1)\n",
               n, wall, jobs, (wall - jobs) / n }'
done
