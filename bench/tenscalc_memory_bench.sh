#!/usr/bin/env bash
# Peak resident memory and wall time of a default tenscalc run beside MRtrix3's dwi2tensor (a
# different program, used only as a yardstick, Debian package mrtrix3), on the large phantom
# (128x128x72, 65 volumes) and on data of HCP size (145x174x145, 18 b0 + 3 x 90 directions at
# b = 1000, 2000 and 3000: 288 volumes, 2 GB), made here with numpy. Every program on its
# default threads. Prints best-of-N seconds and the peak MiB of that run.
#   bench/tenscalc_memory_bench.sh [BUILD_DIR] [RUNS]     (default build/, 3 runs; 1 at HCP size)
#   OLD_BIN=DIR also times another build's tenscalc on the same data (before/after a change).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$repo/build}" && pwd)
runs=${2:-3}
command -v dwi2tensor >/dev/null || { echo "dwi2tensor (Debian mrtrix3) is not installed" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# best LABEL RUNS COMMAND...: "LABEL seconds peak_MiB" of the fastest run.
best() {
    local label=$1 count=$2
    shift 2
    local seconds="" peak=""
    for _ in $(seq "$count"); do
        /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>&1
        read -r s kib < "$work/time"
        if [ -z "$seconds" ] || awk "BEGIN { exit !($s < $seconds) }"; then
            seconds=$s; peak=$((kib / 1024))
        fi
    done
    printf '%-28s %8s s %8s MiB\n' "$label" "$seconds" "$peak"
}

compare() {
    local name=$1 count=$2 nii=$3 bvec=$4 bval=$5
    echo "== $name"
    best "tenscalc" "$count" "$build/bin/tenscalc" "$nii" "$work/t" -bvec "$bvec" -bval "$bval"
    if [ -n "${OLD_BIN:-}" ]; then
        best "tenscalc ($OLD_BIN)" "$count" "$OLD_BIN/tenscalc" "$nii" "$work/o" -bvec "$bvec" \
            -bval "$bval"
    fi
    best "dwi2tensor (default)" "$count" dwi2tensor -force -quiet -fslgrad "$bvec" "$bval" \
        "$nii" "$work/peer.mif"
    best "dwi2tensor -ols" "$count" dwi2tensor -force -quiet -ols -fslgrad "$bvec" "$bval" \
        "$nii" "$work/peer.mif"
    rm -f "$work"/t_* "$work"/o_* "$work/peer.mif"
}

"$build/bin/dwiphantom" "$work/large" -s large >/dev/null
compare "large phantom 128x128x72, 65 volumes" "$runs" "$work/large.nii" "$work/large.bvec" \
    "$work/large.bval"
rm -f "$work"/large*

/usr/bin/python3 - "$work" <<'PYTHON'
import sys
import numpy as np
import nibabel as nib

work = sys.argv[1]
shape = (145, 174, 145)
rng = np.random.default_rng(7)
bvals = np.array([0] * 18 + [1000] * 90 + [2000] * 90 + [3000] * 90, dtype=float)
directions = rng.normal(size=(len(bvals), 3))
directions /= np.linalg.norm(directions, axis=1)[:, None]
directions[bvals == 0] = 0
# A head-sized ellipsoid of tissue whose fibres turn slowly with position.
z, y, x = np.meshgrid(*[np.linspace(-1, 1, n) for n in shape[::-1]], indexing="ij")
inside = (x ** 2 + y ** 2 + z ** 2 < 0.8).transpose(2, 1, 0)
angle = (np.pi * x).transpose(2, 1, 0)[inside]
fibre = np.stack([np.cos(angle), np.sin(angle), np.zeros_like(angle)], axis=1)
data = np.zeros(shape + (len(bvals),), dtype=np.int16)
for v, (b, g) in enumerate(zip(bvals, directions)):
    along = (fibre @ g) ** 2
    d = 0.3e-3 + 1.4e-3 * along
    signal = 1000.0 * np.exp(-b * d + b * b * d * d / 6.0) + rng.normal(0, 20, size=d.shape)
    volume = np.zeros(shape, dtype=np.int16)
    volume[inside] = np.clip(np.abs(signal), 0, 32767).astype(np.int16)
    data[..., v] = volume
image = nib.Nifti1Image(data, np.diag([1.25, 1.25, 1.25, 1.0]))
nib.save(image, work + "/hcp.nii")
np.savetxt(work + "/hcp.bval", bvals[None, :], fmt="%d")
np.savetxt(work + "/hcp.bvec", directions.T, fmt="%.6f")
PYTHON
compare "HCP size 145x174x145, 288 volumes" 1 "$work/hcp.nii" "$work/hcp.bvec" "$work/hcp.bval"
