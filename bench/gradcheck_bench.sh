#!/usr/bin/env bash
# Times gradcheck against MRtrix3's dwigradcheck (a yardstick only) on the medium phantom
# (96x96x60, 1 b0 + 64 directions) with its slanted bundle, one thread each, the same .bvec/.bval
# files and the same mask (the phantom's white matter). Targets: at least 20x faster than the
# peer and under 10 s. The peer takes minutes; without the Debian package mrtrix3 only gradcheck
# is timed.
#   bench/gradcheck_bench.sh [BUILD_DIR]
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$repo/build}" && pwd)
for program in dwiphantom gradcheck; do
    [ -x "$build/bin/$program" ] || { echo "missing $build/bin/$program" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

"$build/bin/dwiphantom" ph -s medium -slanted >/dev/null
# The white matter of the truth (labels 1 and up) as the mask of both programs.
mask=(-m ph_truth_wm.nii 1 100)

/usr/bin/time -f "%e %M" -o ours.time "$build/bin/gradcheck" ph.nii -bvec ph.bvec -bval ph.bval \
    "${mask[@]}" -nthreads 1 > ours.out
read -r ours ours_kib < ours.time
echo "gradcheck -nthreads 1: $ours s, peak $((ours_kib / 1024)) MiB; $(tail -n 1 ours.out)"

if command -v dwigradcheck >/dev/null; then
    mrcalc -quiet -force ph_truth_wm.nii 0 -gt mask.mif
    /usr/bin/time -f "%e %M" -o peer.time dwigradcheck ph.nii -fslgrad ph.bvec ph.bval \
        -mask mask.mif -nthreads 1 -force -quiet > peer.out 2>&1 || true
    read -r peer peer_kib < peer.time
    echo "dwigradcheck -nthreads 1: $peer s, peak $((peer_kib / 1024)) MiB"
    echo "speed ratio dwigradcheck / gradcheck: $(awk "BEGIN{printf \"%.1f\", $peer / $ours}")" \
         "(target >= 20)"
else
    echo "MRtrix3 not installed: no peer"
fi
