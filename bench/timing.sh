# Sourced by the benchmarks: timing of a command with /usr/bin/time.
#   best RUNS COMMAND...   prints "wall_seconds peak_kb": the best wall time and the largest peak
#                          resident memory of RUNS runs; stops the benchmark when a run fails.
# Needs $work, a folder for the timing files.
best() {
    local runs=$1 wall="" peak=0
    shift
    for ((run = 0; run < runs; ++run)); do
        /usr/bin/time -f "%e %M" -o "$work/time" "$@" > /dev/null 2> "$work/err" || {
            cat "$work/err" >&2
            echo "failed: $*" >&2
            exit 1
        }
        read -r seconds kb < <(tail -n 1 "$work/time")
        if [ -z "$wall" ] || awk "BEGIN{exit !($seconds < $wall)}"; then wall=$seconds; fi
        if [ "$kb" -gt "$peak" ]; then peak=$kb; fi
    done
    echo "$wall $peak"
}
