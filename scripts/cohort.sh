#!/usr/bin/env bash
# A whole study, BIDS App style: see usage below and README.md ("A whole study").
# Nothing in the BIDS folder stops the study: workflow/scripts/study.py decides which
# acquisitions can run, and every other subject becomes a row that says why. Snakemake's own
# output goes to OUTPUT_DIR/logs/snakemake.log; the console gets one line per subject that
# needs a look.
set -euo pipefail

# Installed as dti-cohort: messages name the command as it was called.
name=$(basename "$0")

usage() {
    cat <<USAGE
Usage:
  $name BIDS_DIR OUTPUT_DIR participant [--participant_label 01 02 ...]
            [--cores N] [--profile DIR] [--bin DIR] [--config KEY=VALUE ...]
  $name BIDS_DIR OUTPUT_DIR group [--participant_label 01 02 ...] [--bin DIR]
  $name OUTPUT_DIR view [--port N]

participant runs the workflow (workflow/Snakefile, settings in workflow/config.yaml, which
--config KEY=VALUE overrides) on every sub-*/[ses-*/]dwi/*_dwi.nii[.gz] with its .bval and .bvec:
one job chain per acquisition, restartable. A subject or file that cannot be taken, or whose
step fails, is reported with its reason and leaves the others to complete.
group writes OUTPUT_DIR/group/summary.tsv and OUTPUT_DIR/group/index.html, the QC page, with a
3D view page per subject.
view serves OUTPUT_DIR on 127.0.0.1 (a free port, or N) and prints the address of the QC page:
the 3D views need it served. Ctrl-C stops it.
The programs are taken from --bin DIR, else from beside this script (an installed toolkit),
else from the repository's build/bin, else from PATH.

Exit status: 0 done; 1 a subject failed (or the workflow stopped); 2 a wrong command line, or
no acquisition to run; 3 (group) no subject failed but a gradient table looks wrong.
USAGE
}

fail_usage() {
    echo "$name: $1" >&2
    usage >&2
    exit 2
}

case "${1:-}" in
    -h|--help) usage; exit 0 ;;
esac
[ $# -ge 2 ] || fail_usage "too few arguments"

here=$(cd "$(dirname "$0")" && pwd)
if [ -f "$here/../workflow/Snakefile" ]; then
    workflow=$(cd "$here/../workflow" && pwd)
else
    workflow=$(cd "$here/../share/dtitoolkit/workflow" && pwd)
fi
# The workflow's folder may be read-only (installed) and must stay as shipped.
export PYTHONDONTWRITEBYTECODE=1

# OUTPUT_DIR view [--port N]; an output folder named "view" still takes a level after it.
if [ "$2" = view ] && { [ $# -eq 2 ] || [ "${3#--}" != "$3" ]; }; then
    output=$(cd "$1" 2>/dev/null && pwd) || { echo "$name: no output folder $1" >&2; exit 1; }
    [ -f "$output/group/index.html" ] ||
        { echo "$name: no $output/group/index.html: run the group level first" >&2; exit 1; }
    shift 2
    port=0
    while [ $# -gt 0 ]; do
        case "$1" in
            --port)
                [ $# -ge 2 ] && [[ $2 =~ ^[0-9]+$ ]] || fail_usage "--port needs a number"
                port=$2; shift 2 ;;
            *) fail_usage "unknown option $1" ;;
        esac
    done
    exec python3 "$workflow/scripts/serve_output.py" "$output" --port "$port"
fi

# Everything is checked before anything is created: a mistyped command leaves no folder behind.
[ $# -ge 3 ] || fail_usage "no level: participant, group (or OUTPUT_DIR view)"
level=$3
case "$level" in
    participant|group) ;;
    *) fail_usage "unknown level '$level': participant, group (or OUTPUT_DIR view)" ;;
esac
[ -d "$1" ] || { echo "$name: no BIDS folder $1" >&2; exit 2; }
bids=$(cd "$1" && pwd)
output_arg=$2
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
            while [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; do labels+=("sub-${1#sub-}"); shift; done
            [ ${#labels[@]} -gt 0 ] || fail_usage "--participant_label needs labels" ;;
        --cores)
            [ $# -ge 2 ] && [[ $2 =~ ^[1-9][0-9]*$ ]] || fail_usage "--cores needs a number"
            cores=$2; shift 2 ;;
        --profile)
            [ $# -ge 2 ] && [ -d "$2" ] || fail_usage "--profile needs a folder"
            profile=(--profile "$(cd "$2" && pwd)"); shift 2 ;;
        --config)
            shift
            while [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; do settings+=("$1"); shift; done ;;
        --bin)
            [ $# -ge 2 ] && [ -x "$2/tenscalc" ] || fail_usage "no programs in ${2:-} (--bin)"
            bin=$(cd "$2" && pwd); shift 2 ;;
        *) fail_usage "unknown option $1" ;;
    esac
done

# The system's Python, which the workflow engine runs on too and where Debian's python3-*
# modules (matplotlib for the profile plots) are, before any other python3 on the PATH.
python=/usr/bin/python3
[ -x "$python" ] || python=python3

# Status 2, and the reason, when nothing would run or a setting is unknown.
"$python" "$workflow/scripts/study.py" check "$bids" --caller "$name" \
    ${labels[@]:+--participant_label "${labels[@]}"} ${settings[@]:+--config "${settings[@]}"}

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
        mkdir -p "$output_arg"
        output=$(cd "$output_arg" && pwd)
        version=$("$bin/tenscalc" --version | awk '{ print $NF }')
        cat > "$output/dataset_description.json" <<JSON
{
  "Name": "dtitoolkit derivatives of $(basename "$bids")",
  "BIDSVersion": "1.9.0",
  "DatasetType": "derivative",
  "GeneratedBy": [{"Name": "dtitoolkit", "Version": "$version"}]
}
JSON
        mkdir -p "$output/logs" "$output/.slurm"  # .slurm: batch jobs' own output
        log=$output/logs/snakemake.log
        echo "Running the workflow in $output (its log: $log)"
        status=0
        snakemake --snakefile "$workflow/Snakefile" --directory "$output" --cores "$cores" \
            --keep-going --rerun-incomplete "${profile[@]}" \
            --config bids_dir="$bids" output_dir="$output" bin_dir="$bin" \
                     participant_label="${labels[*]:-}" ${settings[@]+"${settings[@]}"} \
            > "$log" 2>&1 || status=$?
        "$python" "$workflow/scripts/study.py" status "$bids" "$output" \
            --workflow-status "$status" --workflow-log "$log" \
            ${labels[@]:+--participant_label "${labels[@]}"}
        ;;
    group)
        [ -d "$output_arg" ] ||
            { echo "$name: no output folder $output_arg: run the participant level first" >&2
              exit 2; }
        "$python" "$workflow/scripts/group_report.py" "$bids" "$(cd "$output_arg" && pwd)" \
            ${labels[@]:+--participant_label "${labels[@]}"}
        ;;
esac
