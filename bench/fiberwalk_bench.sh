#!/usr/bin/env bash
# Speed and memory of fiberwalk through the whole program, on the 96x96x60 phantom.
#
#   bench/fiberwalk_bench.sh [BUILD_DIR] [WORK_DIR]
#
# BUILD_DIR (default build) must hold bin/dwiphantom, bin/tenscalc and bin/fiberwalk. WORK_DIR
# (default: a fresh temporary folder, removed at the end) receives the phantom, its tensor and
# the track files. RUNS (environment, default 3) sets how many runs the best time is taken of;
# THREADS (default 1) the thread count of both fiberwalk and tckgen.
#
# Seeds: the centre of every white-matter voxel of the phantom truth. Tracking mask: FA >= 0.2.
# Figures printed:
#   FACT, default step (0.05 = 0.1 mm sub-steps at 2 mm voxels): tracks per second;
#   fixed-step streamline with -l 0.05: stored points per second;
#   both with peak resident memory; and, when MRtrix3 is installed, the yardstick
#   tckgen -algorithm FACT -step 0.1 -angle 45 -nthreads THREADS on the principal eigenvector of the
#   same tensors (tensor2metric -vector), the same seeds and mask, -select 0.
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
runs=${RUNS:-3}
threads=${THREADS:-1}
if [ $# -ge 2 ]; then
    work=$2
    mkdir -p "$work"
else
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
fi
cd "$work"

for program in dwiphantom tenscalc fiberwalk; do
    [ -x "$build/bin/$program" ] || { echo "missing $build/bin/$program" >&2; exit 1; }
done

if [ ! -f ph_tensor.nii ]; then
    echo "Preparing the 96x96x60 phantom and its tensor in $work"
    "$build/bin/dwiphantom" ph -s medium >/dev/null
    "$build/bin/tenscalc" ph.nii ph -gm ph_grad.txt >/dev/null
fi

# "tracks points" of a track file.
count_tracks() {
    python3 - "$1" <<'EOF'
import struct, sys
data = open(sys.argv[1], 'rb').read()
offset, tracks, points = 1000, 0, 0
while offset + 4 <= len(data):
    n = struct.unpack_from('<i', data, offset)[0]
    offset += 4 + 12 * n
    tracks += 1
    points += n
print(tracks, points)
EOF
}

# Runs a command $runs times; prints "best_seconds peak_kilobytes" of the fastest run.
best_of() {
    local best="" memory=""
    for _ in $(seq "$runs"); do
        /usr/bin/time -f "%e %M" -o time.txt "$@" >/dev/null 2>&1
        read -r seconds kilobytes <time.txt
        if [ -z "$best" ] || awk -v a="$seconds" -v b="$best" 'BEGIN { exit !(a < b) }'; then
            best=$seconds
            memory=$kilobytes
        fi
    done
    echo "$best $memory"
}

fiberwalk=("$build/bin/fiberwalk" ph -nthreads "$threads")
masks=(-m ph_fa.nii 0.2 -sm ph_truth_wm.nii 1)

echo "fiberwalk FACT, default step, best of $runs:"
echo "  ${fiberwalk[*]} fact.trk ${masks[*]}"
read -r fact_seconds fact_memory < <(best_of "${fiberwalk[@]}" fact.trk "${masks[@]}" -om track_mask.nii)
read -r fact_tracks fact_points < <(count_tracks fact.trk)
fact_rate=$(awk -v n="$fact_tracks" -v s="$fact_seconds" 'BEGIN { printf "%.0f", n / s }')
printf '  %d tracks, %d points in %.2f s: %s tracks/s, peak memory %d KB\n' \
    "$fact_tracks" "$fact_points" "$fact_seconds" "$fact_rate" "$fact_memory"

echo "fiberwalk fixed-step streamline -sl -l 0.05, best of $runs:"
echo "  ${fiberwalk[*]} sl.trk ${masks[*]} -sl -l 0.05"
read -r sl_seconds sl_memory < <(best_of "${fiberwalk[@]}" sl.trk "${masks[@]}" -sl -l 0.05)
read -r sl_tracks sl_points < <(count_tracks sl.trk)
sl_rate=$(awk -v n="$sl_points" -v s="$sl_seconds" 'BEGIN { printf "%.0f", n / s }')
printf '  %d tracks, %d points in %.2f s: %s points/s, peak memory %d KB\n' \
    "$sl_tracks" "$sl_points" "$sl_seconds" "$sl_rate" "$sl_memory"
rm -f sl.trk

if ! command -v tckgen >/dev/null; then
    echo "MRtrix3 not installed: no yardstick."
    exit 0
fi
# MRtrix stores tensors as (xx, yy, zz, xy, xz, yz); tenscalc as (xx, xy, yy, xz, yz, zz).
mrconvert -quiet -force ph_tensor.nii -coord 3 0,2,5,1,3,4 tensor_mr.mif
tensor2metric -quiet -force tensor_mr.mif -vector v1.mif -modulate none
mrcalc -quiet -force ph_truth_wm.nii 0 -gt seeds.mif
peer=(tckgen v1.mif peer.tck -force -quiet -algorithm FACT -step 0.1 -angle 45 -nthreads "$threads"
      -seed_grid_per_voxel seeds.mif 1 -select 0 -mask track_mask.nii)
echo "MRtrix3 tckgen, best of $runs:"
echo "  ${peer[*]}"
read -r peer_seconds peer_memory < <(best_of "${peer[@]}")
peer_tracks=$(tckinfo peer.tck -count 2>/dev/null | awk '/actual count/ { print $NF }')
peer_seeds=$(mrstats seeds.mif -mask seeds.mif -output count 2>/dev/null | tr -d "[:space:]")
peer_rate=$(awk -v n="$peer_tracks" -v s="$peer_seconds" 'BEGIN { printf "%.0f", n / s }')
seed_rate=$(awk -v n="$peer_seeds" -v s="$peer_seconds" 'BEGIN { printf "%.0f", n / s }')
printf '  %d tracks kept from %d seeds in %.2f s: %s tracks/s (%s seeds/s), peak memory %d KB\n' \
    "$peer_tracks" "$peer_seeds" "$peer_seconds" "$peer_rate" "$seed_rate" "$peer_memory"
awk -v a="$fact_rate" -v b="$peer_rate" -v c="$seed_rate" \
    'BEGIN { printf "Ratio fiberwalk / tckgen: %.2f in tracks per second, %.2f against its seeds per second\n", a / b, a / c }'
