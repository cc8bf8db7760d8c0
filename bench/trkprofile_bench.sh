#!/usr/bin/env bash
# Tractometry of a large tractogram: trkprofile with two maps, the figures and a 100-node profile
# (every point sampled, every track resampled and sampled at its nodes), beside the same job done
# with MRtrix3 (a yardstick only): tckresample to 100 points, then tcksample of both maps at the
# nodes and, for the per-track means, at every point. Both run on one and on two threads.
#
# Usage: bench/trkprofile_bench.sh [BIN_DIR] [TRACKS] [POINTS]
#   BIN_DIR  folder holding the built programs (default: build/bin below the repository)
#
# Every command runs three times; the best wall time and the largest peak resident memory are
# reported. trkprofile is run again on a tenth of the tracks: what it keeps per track (the
# sampled values for the median, the node values) shows as the difference.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$repo/build/bin}
tracks=${2:-100000}
points=${3:-200}
[ -x "$bin/trkprofile" ] || { echo "no trkprofile in $bin" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time" >&2; exit 1; }
/usr/bin/python3 -c "import numpy, nibabel" 2> /dev/null ||
    { echo "needs /usr/bin/python3 with numpy and nibabel to write the maps" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
c++ -O2 -std=c++17 -I"$repo/common/tracks" -o "$work/gen" "$repo/bench/make_tracks.cpp"
"$work/gen" "$work/big.trk" "$work/big.tck" "$tracks" "$points"
"$work/gen" "$work/tenth.trk" "$work/tenth.tck" "$((tracks / 10))" "$points"

# Two smooth maps on the tracks' grid (64^3 voxels of 2 mm). The .tck points are the .trk's voxel
# millimetres, so the voxel-to-world matrix puts voxel centres at 2 i + 1 mm.
/usr/bin/python3 - "$work" << 'EOF'
import sys
import numpy as np
import nibabel as nib
i, j, k = np.meshgrid(*(np.arange(64.0),) * 3, indexing="ij")
affine = np.diag([2.0, 2.0, 2.0, 1.0])
affine[:3, 3] = 1.0
fa = 0.5 + 0.3 * np.sin(i / 7.0) * np.cos(j / 11.0) + 0.1 * np.sin(k / 5.0)
md = 1e-3 * (1.0 + 0.2 * np.cos(k / 9.0 + i / 13.0))
for name, values in (("fa", fa), ("md", md)):
    image = nib.Nifti1Image(values.astype(np.float32), affine)
    image.set_qform(affine, code=1)
    image.set_sform(affine, code=1)
    nib.save(image, sys.argv[1] + "/" + name + ".nii")
EOF
echo "$tracks tracks of $points points ($((tracks * points)) points), two 64^3 maps"

source "$repo/bench/timing.sh"

# The MRtrix3 job as one command, so that it is timed as a whole.
cat > "$work/mrtrix_job.sh" << 'EOF'
#!/usr/bin/env bash
set -euo pipefail
work=$1 size=$2 threads=$3
tckresample -quiet -force -nthreads "$threads" -num_points 100 "$work/$size.tck" "$work/${size}_nodes.tck"
for map in fa md; do
    tcksample -quiet -force -nthreads "$threads" "$work/${size}_nodes.tck" "$work/$map.nii" \
        "$work/${size}_${map}_nodes.tsf"
    tcksample -quiet -force -nthreads "$threads" -stat_tck mean "$work/$size.tck" \
        "$work/$map.nii" "$work/${size}_${map}_means.txt"
done
EOF
chmod +x "$work/mrtrix_job.sh"

profile() {  # profile SIZE INPUT_ENDING THREADS
    DTI_NTHREADS=$3 "$bin/trkprofile" "$work/$1.$2" -map "fa=$work/fa.nii" -map "md=$work/md.nii" \
        -stats "$work/$1_$2_$3_stats.tsv" -profile "$work/$1_$2_$3_profile.tsv" -nodes 100
}
export -f profile
export bin work

printf "%-46s %10s %13s %13s\n" "command" "best wall" "peak" "peak on 1/10"
for threads in 1 2; do
    for ending in trk tck; do
        read -r wall peak < <(best 3 bash -c "profile big $ending $threads")
        read -r _ tenth < <(best 3 bash -c "profile tenth $ending $threads")
        printf "%-46s %8s s %10s KB %10s KB\n" "trkprofile .$ending, $threads thread(s)" "$wall" \
            "$peak" "$tenth"
    done
done
cmp -s "$work/big_trk_1_profile.tsv" "$work/big_trk_2_profile.tsv" &&
    cmp -s "$work/big_trk_1_stats.tsv" "$work/big_trk_2_stats.tsv" ||
    { echo "trkprofile's tables differ by thread count" >&2; exit 1; }
if command -v tcksample > /dev/null && command -v tckresample > /dev/null; then
    for threads in 1 2; do
        read -r wall peak < <(best 3 "$work/mrtrix_job.sh" "$work" big "$threads")
        read -r _ tenth < <(best 3 "$work/mrtrix_job.sh" "$work" tenth "$threads")
        printf "%-46s %8s s %10s KB %10s KB\n" "tckresample + 4 x tcksample, $threads thread(s)" \
            "$wall" "$peak" "$tenth"
    done
else
    echo "MRtrix3 not installed: no comparison"
fi
echo "trkprofile writes the same tables for 1 and 2 threads"
