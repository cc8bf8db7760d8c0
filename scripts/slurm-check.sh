#!/usr/bin/env bash
# Runs a two-subject phantom study through the workflow's Slurm profile on a real single-node
# Slurm started here (scripts/slurm-local.sh), and checks that every step ran as a batch job and
# the study completed. Stops Slurm again at the end.
#   scripts/slurm-check.sh [BUILD_DIR]
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$repo/build}" && pwd)
work=$(mktemp -d)
trap '"$repo/scripts/slurm-local.sh" stop; rm -rf "$work"' EXIT

"$repo/scripts/slurm-local.sh" start >/dev/null
"$build/bin/dwiphantom" -bids "$work/study" -n 2 >/dev/null
"$repo/scripts/cohort.sh" "$work/study" "$work/out" participant --bin "$build/bin" \
    --profile "$repo/workflow/profiles/slurm" > "$work/run.log" 2>&1 || {
    cat "$work/run.log" >&2
    echo "Slurm check: the study failed" >&2
    exit 1
}
"$repo/scripts/cohort.sh" "$work/study" "$work/out" group --bin "$build/bin" >/dev/null
jobs=$(ls "$work/out/.slurm" | wc -l)
ok=$(awk -F '\t' 'NR > 1 && $9 == "ok"' "$work/out/group/summary.tsv" | wc -l)
# Five steps per subject, each its own batch job.
if [ "$ok" -ne 2 ] || [ "$jobs" -lt 10 ]; then
    echo "Slurm check: $ok of 2 subjects ok, $jobs batch jobs" >&2
    exit 1
fi
echo "Slurm check: 2 subjects ok through $jobs Slurm batch jobs"
