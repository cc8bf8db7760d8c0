#!/usr/bin/env bash
# A whole study, BIDS App style:
#   scripts/cohort.sh BIDS_DIR OUTPUT_DIR participant [--participant_label 01 02 ...]
#                     [--cores N] [--profile DIR] [--bin DIR] [--config KEY=VALUE ...]
#   scripts/cohort.sh BIDS_DIR OUTPUT_DIR group [--participant_label ...] [--bin DIR]
#   scripts/cohort.sh OUTPUT_DIR view [--port N]
# participant runs the workflow (workflow/Snakefile, settings in workflow/config.yaml) on every
# sub-*/[ses-*/]dwi/*_dwi.nii.gz with its .bval/.bvec: one job chain per subject, restartable,
# a failed subject leaving the others to complete. group writes OUTPUT_DIR/group/summary.tsv and
# OUTPUT_DIR/group/index.html, with a 3D view page per subject. The exit status is not 0 when any
# subject failed. view serves OUTPUT_DIR on 127.0.0.1 (a free port, or N) and prints the address
# of the QC page: the 3D views need it served. Ctrl-C stops it.
# The programs are taken from --bin DIR, else from beside this script (an installed toolkit),
# else from the repository's build/bin, else from PATH. --config overrides workflow/config.yaml.
set -euo pipefail

usage() {
    sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
}
[ $# -ge 2 ] || usage

here=$(cd "$(dirname "$0")" && pwd)
if [ -f "$here/../workflow/Snakefile" ]; then
    workflow=$(cd "$here/../workflow" && pwd)
else
    workflow=$(cd "$here/../share/dtitoolkit/workflow" && pwd)
fi

# OUTPUT_DIR view [--port N]; an output folder named "view" still takes a level after it.
if [ "$2" = view ] && { [ $# -eq 2 ] || [ "${3#--}" != "$3" ]; }; then
    output=$(cd "$1" 2>/dev/null && pwd) || { echo "no output folder $1" >&2; exit 1; }
    [ -f "$output/group/index.html" ] ||
        { echo "no $output/group/index.html: run the group level first" >&2; exit 1; }
    shift 2
    port=0
    while [ $# -gt 0 ]; do
        case "$1" in
            --port) [ $# -ge 2 ] || usage; port=$2; shift 2 ;;
            *) echo "unknown option $1" >&2; usage ;;
        esac
    done
    exec python3 "$workflow/scripts/serve_output.py" "$output" --port "$port"
fi
[ $# -ge 3 ] || usage
bids=$(cd "$1" && pwd) || { echo "no BIDS folder $1" >&2; exit 1; }
mkdir -p "$2"
output=$(cd "$2" && pwd)
level=$3
shift 3
labels=()
cores=$(nproc)
profile=()
settings=()
bin=
while [ $# -gt 0 ]; do
    case "$1" in
        --participant_label)
            shift
            # Kept as "sub-XX": a bare "01" would reach the workflow as the number 1.
            while [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; do labels+=("sub-${1#sub-}"); shift; done ;;
        --cores) cores=$2; shift 2 ;;
        --profile) profile=(--profile "$(cd "$2" && pwd)"); shift 2 ;;
        --config)
            shift
            while [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; do settings+=("$1"); shift; done ;;
        --bin)
            [ -x "$2/tenscalc" ] || { echo "no programs in $2 (--bin)" >&2; exit 2; }
            bin=$(cd "$2" && pwd); shift 2 ;;
        *) echo "unknown option $1" >&2; usage ;;
    esac
done

if [ -n "${bin:-}" ]; then
    :
elif [ -x "$here/tenscalc" ]; then
    bin=$here
elif [ -x "$here/../build/bin/tenscalc" ]; then
    bin=$(cd "$here/../build/bin" && pwd)
else
    bin=$(dirname "$(command -v tenscalc)")
fi

case "$level" in
    participant)
        version=$("$bin/tenscalc" --version | awk '{ print $NF }')
        cat > "$output/dataset_description.json" <<JSON
{
  "Name": "dtitoolkit derivatives of $(basename "$bids")",
  "BIDSVersion": "1.9.0",
  "DatasetType": "derivative",
  "GeneratedBy": [{"Name": "dtitoolkit", "Version": "$version"}]
}
JSON
        mkdir -p "$output/.slurm"  # batch jobs' own output, when a cluster profile is used
        snakemake --snakefile "$workflow/Snakefile" --directory "$output" --cores "$cores" \
            --keep-going --quiet "${profile[@]}" \
            --config bids_dir="$bids" output_dir="$output" bin_dir="$bin" \
                     participant_label="${labels[*]:-}" ${settings[@]+"${settings[@]}"}
        ;;
    group)
        python3 "$workflow/scripts/group_report.py" "$bids" "$output" \
            ${labels[@]:+--participant_label "${labels[@]}"}
        ;;
    *) usage ;;
esac
