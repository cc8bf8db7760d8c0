#!/usr/bin/env bash
# Times trksmooth against MRtrix3's tckresample (a yardstick only) on the same smooth tracks.
#
# Usage: bench/trksmooth_bench.sh [BIN_DIR] [TRACKS] [POINTS]
#   BIN_DIR  folder holding the built trksmooth (default: build/bin below the repository)
#   TRACKS   number of tracks (default 100000), POINTS per track (default 200)
#
# The generator writes the tracks twice: as a .trk file (voxel size 2 mm, so STEP 0.5 is a
# 1 mm step) and as an MRtrix3 .tck file (text header, then float32 x y z triplets, each track
# ended by a NaN triplet and the file by an Inf triplet). Each program runs three times; the
# best wall time and the largest peak resident memory are reported. A second trksmooth run on
# a file a hundred times smaller shows whether memory follows the file or the largest track.
set -euo pipefail
# One thread against the peers' one thread, unless DTI_NTHREADS says otherwise.
export DTI_NTHREADS=${DTI_NTHREADS:-1}

repo=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$repo/build/bin}
tracks=${2:-100000}
points=${3:-200}
trksmooth=$bin/trksmooth
[ -x "$trksmooth" ] || { echo "no trksmooth in $bin" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

c++ -O2 -std=c++17 -I"$repo/common" -o "$work/gen" "$repo/bench/make_tracks.cpp"

echo "Generating $tracks tracks of $points points..."
"$work/gen" "$work/in.trk" "$work/in.tck" "$tracks" "$points"
"$work/gen" "$work/small.trk" "$work/small.tck" "$((tracks / 100 > 0 ? tracks / 100 : 1))" "$points"
echo "  .trk $(stat -c %s "$work/in.trk") bytes, .tck $(stat -c %s "$work/in.tck") bytes"

# best_of_3 COMMAND...: prints "seconds cpu_seconds peak_kb": the best wall time, the best
# processor time (user + system; steadier than wall time on a shared machine) and the largest
# peak resident memory of three runs.
best_of_3() {
    local best="" best_cpu="" peak=0
    for _ in 1 2 3; do
        /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" > /dev/null 2> "$work/err" || {
            cat "$work/err" >&2
            echo "failed: $*" >&2
            exit 1
        }
        read -r seconds user system kb < <(tail -n 1 "$work/time")
        cpu=$(awk "BEGIN{print $user + $system}")
        if [ -z "$best" ] || awk "BEGIN{exit !($seconds < $best)}"; then best=$seconds; fi
        if [ -z "$best_cpu" ] || awk "BEGIN{exit !($cpu < $best_cpu)}"; then best_cpu=$cpu; fi
        if [ "$kb" -gt "$peak" ]; then peak=$kb; fi
    done
    echo "$best $best_cpu $peak"
}

rate() { awk "BEGIN{printf \"%.0f\", $1 / ($2 > 0 ? $2 : 0.01)}"; }
ratio() { awk "BEGIN{printf \"%.2f\", $1 / ($2 > 0 ? $2 : 0.01)}"; }

read -r ours ours_cpu ours_kb < <(best_of_3 "$trksmooth" "$work/in.trk" 0.5 "$work/out.trk")
read -r small small_cpu small_kb < <(best_of_3 "$trksmooth" "$work/small.trk" 0.5 "$work/small_out.trk")
echo "trksmooth IN.trk 0.5 OUT.trk: best ${ours} s wall ($(rate "$tracks" "$ours") tracks/s)," \
     "${ours_cpu} s processor, peak ${ours_kb} KB"
echo "  same on $((tracks / 100)) tracks: best ${small} s wall, peak ${small_kb} KB"

if command -v tckresample > /dev/null; then
    read -r peer peer_cpu peer_kb < <(best_of_3 tckresample -quiet -force -step_size 1 \
                                                  -nthreads 1 "$work/in.tck" "$work/out.tck")
    echo "tckresample -step_size 1 -nthreads 1: best ${peer} s wall" \
         "($(rate "$tracks" "$peer") tracks/s), ${peer_cpu} s processor, peak ${peer_kb} KB"
    echo "speed ratio tckresample / trksmooth: wall $(ratio "$peer" "$ours")," \
         "processor $(ratio "$peer_cpu" "$ours_cpu")"
else
    echo "tckresample not installed: no comparison"
fi
