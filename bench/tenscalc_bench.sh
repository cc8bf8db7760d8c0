#!/usr/bin/env bash
# Times tenscalc against MRtrix3's dwi2tensor (a different program, used only as a yardstick) on
# the medium phantom: 96x96x60 voxels of 2 mm, 1 b0 + 64 directions, int16 .nii.
# Prints best-of-3 wall seconds, peak memory and the ratio, and the time of the same fit from the
# FSL/BIDS .bvec/.bval files against the -gm table. The MRtrix3 rows need the Debian package
# mrtrix3 and are left out without it.
#   bench/tenscalc_bench.sh            (BUILD_DIR chooses the build folder, default build/)
set -euo pipefail
# One thread against one thread: the per-core comparison.
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
cmake -S . -B "$build" >/dev/null
cmake --build "$build" --target tenscalc dwiphantom >/dev/null
have_peer=1
command -v dwi2tensor >/dev/null || { echo "dwi2tensor (Debian mrtrix3) is not installed: no peer rows" >&2; have_peer=0; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bin/dwiphantom" "$work/dwi" -s medium -zb >/dev/null
# MRtrix reads rows "x y z b"; b0 rows carry b = 0.
awk '!/^[#;]/ && NF >= 3 { gsub(",", " "); n = split($0, v, " ");
     b = (v[1] == 0 && v[2] == 0 && v[3] == 0) ? 0 : 1000; print v[1], v[2], v[3], b }' \
    "$work/dwi_grad.txt" > "$work/grad.b"

# best_of_3 LABEL COMMAND...: prints "LABEL seconds peak_MiB" for the fastest of three runs.
best_of_3() {
    local label=$1; shift
    local best="" peak=""
    for _ in 1 2 3; do
        /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>&1
        read -r seconds kib < "$work/time"
        if [ -z "$best" ] || awk "BEGIN { exit !($seconds < $best) }"; then
            best=$seconds; peak=$kib
        fi
    done
    echo "$label $best $((peak / 1024))"
}

voxels=$((96 * 96 * 60))
input_mib=$(( $(stat -c %s "$work/dwi.nii") / 1048576 ))
read -r _ ours ours_mib < <(best_of_3 tenscalc "$build/bin/tenscalc" "$work/dwi.nii" "$work/out" \
    -gm "$work/dwi_grad.txt" -nthreads 1)
read -r _ fsl fsl_mib < <(best_of_3 tenscalc-bvec "$build/bin/tenscalc" "$work/dwi.nii" \
    "$work/fsl" -bvec "$work/dwi.bvec" -bval "$work/dwi.bval" -nthreads 1)
read -r _ wls wls_mib < <(best_of_3 tenscalc-wls "$build/bin/tenscalc" "$work/dwi.nii" \
    "$work/wls" -gm "$work/dwi_grad.txt" -nthreads 1 -fit wls)
read -r _ iwls iwls_mib < <(best_of_3 tenscalc-iwls "$build/bin/tenscalc" "$work/dwi.nii" \
    "$work/iwls" -gm "$work/dwi_grad.txt" -nthreads 1 -fit iwls 2)
outputs_mib=$(( $(cat "$work"/out_*.nii | wc -c) / 1048576 ))

printf '%-14s %10s %12s %14s\n' program seconds "peak MiB" "voxels/s"
printf '%-14s %10s %12s %14.0f\n' tenscalc "$ours" "$ours_mib" "$(awk "BEGIN{print $voxels/$ours}")"
printf '%-14s %10s %12s %14.0f\n' "tenscalc -bvec" "$fsl" "$fsl_mib" "$(awk "BEGIN{print $voxels/$fsl}")"
printf '%-14s %10s %12s %14.0f\n' "tenscalc wls" "$wls" "$wls_mib" "$(awk "BEGIN{print $voxels/$wls}")"
printf '%-14s %10s %12s %14.0f\n' "tenscalc iwls2" "$iwls" "$iwls_mib" "$(awk "BEGIN{print $voxels/$iwls}")"
echo "time ratio -bvec/-bval form to -gm form: $(awk "BEGIN{printf \"%.3f\", $fsl/$ours}") (target <= 1.02)"
echo "time ratio -fit wls to ols: $(awk "BEGIN{printf \"%.2f\", $wls/$ours}") (target <= 2)"
if [ "$have_peer" = 1 ]; then
    read -r _ peer peer_mib < <(best_of_3 dwi2tensor dwi2tensor -force -quiet -ols -iter 0 \
        -nthreads 1 -grad "$work/grad.b" "$work/dwi.nii" "$work/peer.mif")
    printf '%-14s %10s %12s %14.0f\n' dwi2tensor "$peer" "$peer_mib" "$(awk "BEGIN{print $voxels/$peer}")"
    echo "time ratio tenscalc/dwi2tensor: $(awk "BEGIN{printf \"%.2f\", $ours/$peer}") (target <= 0.5)"
    # The peer's default: weighted least squares with two reweightings.
    read -r _ peer_w peer_w_mib < <(best_of_3 dwi2tensor-default dwi2tensor -force -quiet \
        -nthreads 1 -grad "$work/grad.b" "$work/dwi.nii" "$work/peer_w.mif")
    printf '%-14s %10s %12s %14.0f\n' "dwi2tensor iwls" "$peer_w" "$peer_w_mib" "$(awk "BEGIN{print $voxels/$peer_w}")"
    echo "time ratio tenscalc -fit iwls 2 / dwi2tensor default: $(awk "BEGIN{printf \"%.2f\", $iwls/$peer_w}") (target <= 0.5)"
fi
echo "memory: input $input_mib MiB + outputs $outputs_mib MiB; tenscalc peak $ours_mib MiB" \
     "(target <= $(( (input_mib + outputs_mib) * 12 / 10 )) MiB)"
