#!/usr/bin/env bash
# Times the pipeline on the medium and large phantoms and sets each program beside an MRtrix3
# yardstick run on the same data in the same invocation (if MRtrix3 is installed):
#   tenscalc               vs dwi2tensor + tensor2metric (-fa -vector)     voxels per second
#   fiberwalk FACT 0.05    vs tckgen -algorithm FACT, step 0.05 voxel       tracks per second
#   fiberwalk -sl 0.5      vs tckgen -algorithm Tensor_Det, step 0.5 voxel  tracks per second
#   trksmooth 0.5          vs tckresample -step_size 0.5 voxel              tracks per second
#                          (both on their streamline (-sl / Tensor_Det) tracks)
# Both sides run single-threaded, seed once at the centre of every voxel with FA >= 0.2 and
# track inside it with a 35 degree angle limit.
#   bench/pipeline_bench.sh [BIN_DIR] [SIZES...]    defaults: build/bin, "medium large"
# Wall seconds and peak resident memory come from /usr/bin/time.
set -euo pipefail
# One thread against the peers' one thread, unless DTI_NTHREADS says otherwise.
export DTI_NTHREADS=${DTI_NTHREADS:-1}
cd "$(dirname "$0")/.."

bin=${1:-build/bin}
shift || true
sizes=("$@")
[ ${#sizes[@]} -eq 0 ] && sizes=(medium large)
for program in dwiphantom tenscalc fiberwalk trksmooth; do
    [ -x "$bin/$program" ] || { echo "missing $bin/$program (build first)" >&2; exit 1; }
done
peer=0
command -v dwi2tensor >/dev/null && command -v tckgen >/dev/null && peer=1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# timed NAME COMMAND...: runs the command, keeps its output in $work/NAME.out and sets
# wall (seconds) and peak (MB).
timed() {
    local name=$1
    shift
    /usr/bin/time -f '%e %M' -o "$work/$name.time" "$@" >"$work/$name.out" 2>&1 ||
        { echo "failed: $*" >&2; tail -5 "$work/$name.out" >&2; exit 1; }
    read -r wall peak_kb <"$work/$name.time"
    peak=$(awk -v k="$peak_kb" 'BEGIN { printf "%.0f", k / 1024 }')
}
rate() { awk -v n="$1" -v s="$2" 'BEGIN { if (s > 0) printf "%.0f", n / s; else print "inf" }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0 && a != "inf") printf "%.2f", a / b; else print "-" }'; }
tracks_in() { grep -a -o 'Number of tracks: [0-9]*' "$1" | tail -1 | awk '{ print $4 }'; }
tck_count() { tckinfo "$1" -count 2>/dev/null | awk '/actual count/ { print $NF }'; }

rows=()
row() { rows+=("$(printf '%-7s %-16s %8s %7s %12s | %8s %7s %12s | %6s' "$@")"); }

for size in "${sizes[@]}"; do
    dir=$work/$size
    mkdir -p "$dir"
    p=$dir/phantom
    "$bin/dwiphantom" "$p" -s "$size" >/dev/null
    read -r nx ny nz < <(awk '/^Phantom:/ { print $2, $3, $4 }' <("$bin/dwiphantom" "$dir/again" -s "$size"))
    voxels=$((nx * ny * nz))
    rm -f "$dir"/again*

    # Our pipeline.
    timed "$size-tenscalc" "$bin/tenscalc" "$p.nii" "$p" -gm "${p}_grad.txt"
    t_wall=$wall t_peak=$peak
    timed "$size-fact" "$bin/fiberwalk" "$p" "$dir/fact.trk" -m "${p}_fa.nii" 0.2 1.1
    f_wall=$wall f_peak=$peak f_n=$(tracks_in "$work/$size-fact.out")
    timed "$size-sl" "$bin/fiberwalk" "$p" "$dir/sl.trk" -m "${p}_fa.nii" 0.2 1.1 -sl -l 0.5
    s_wall=$wall s_peak=$peak s_n=$(tracks_in "$work/$size-sl.out")
    # Smoothing works on the streamline tracks, whose count and length the peer matches
    # closely (its FACT keeps far fewer tracks under the same angle limit).
    timed "$size-smooth" "$bin/trksmooth" "$dir/sl.trk" 0.5 "$dir/smooth.trk"
    m_wall=$wall m_peak=$peak m_n=$(tracks_in "$work/$size-smooth.out")

    # The yardstick on the same data. The gradient table lists voxel-frame directions with y
    # and z negated (see dwiphantom); MRtrix3 takes them in the image frame of a header
    # without orientation, so the signs are turned back.
    pt_wall=- pt_peak=- pt_rate=- pf_wall=- pf_peak=- pf_rate=- ps_wall=- ps_peak=- ps_rate=-
    pm_wall=- pm_peak=- pm_rate=-
    if [ $peer -eq 1 ]; then
        awk -F'[ ,]+' '!/#/ && NF >= 3 { n = sqrt($1*$1 + $2*$2 + $3*$3);
            if (n > 0) print $1, -$2, -$3, 1000; else print 0, 0, 0, 0 }' "${p}_grad.txt" >"$dir/grad.b"
        mr=(-nthreads 1 -quiet -force)
        timed "$size-peer-tensor" bash -c "dwi2tensor ${mr[*]} -grad '$dir/grad.b' '$p.nii' '$dir/dt.mif' &&
            tensor2metric ${mr[*]} '$dir/dt.mif' -fa '$dir/fa.mif' -vector '$dir/v1.mif'"
        pt_wall=$wall pt_peak=$peak pt_rate=$(rate "$voxels" "$wall")
        # Both trackers seed and stay in the same voxels: those with tenscalc's FA >= 0.2.
        mrthreshold "${mr[@]}" "${p}_fa.nii" -abs 0.2 "$dir/mask.mif"
        common=(-seed_grid_per_voxel "$dir/mask.mif" 1 -mask "$dir/mask.mif" -select 0
                -angle 35 -minlength 0 -cutoff 0.2 "${mr[@]}")
        timed "$size-peer-fact" tckgen "$dir/v1.mif" "$dir/fact.tck" -algorithm FACT -step 0.1 "${common[@]}"
        pf_wall=$wall pf_peak=$peak pf_rate=$(rate "$(tck_count "$dir/fact.tck")" "$wall")
        timed "$size-peer-sl" tckgen "$p.nii" "$dir/sl.tck" -algorithm Tensor_Det -grad "$dir/grad.b" \
            -step 1.0 "${common[@]}"
        ps_wall=$wall ps_peak=$peak ps_rate=$(rate "$(tck_count "$dir/sl.tck")" "$wall")
        timed "$size-peer-smooth" tckresample "${mr[@]}" "$dir/sl.tck" -step_size 1.0 "$dir/smooth.tck"
        pm_wall=$wall pm_peak=$peak pm_rate=$(rate "$(tck_count "$dir/sl.tck")" "$wall")
    fi

    t_rate=$(rate "$voxels" "$t_wall")
    f_rate=$(rate "$f_n" "$f_wall")
    s_rate=$(rate "$s_n" "$s_wall")
    m_rate=$(rate "$m_n" "$m_wall")
    row "$size" "tenscalc" "$t_wall" "$t_peak" "$t_rate vox/s" "$pt_wall" "$pt_peak" "$pt_rate" "$(ratio "$t_rate" "$pt_rate")"
    row "$size" "fiberwalk FACT" "$f_wall" "$f_peak" "$f_rate trk/s" "$pf_wall" "$pf_peak" "$pf_rate" "$(ratio "$f_rate" "$pf_rate")"
    row "$size" "fiberwalk -sl" "$s_wall" "$s_peak" "$s_rate trk/s" "$ps_wall" "$ps_peak" "$ps_rate" "$(ratio "$s_rate" "$ps_rate")"
    row "$size" "trksmooth" "$m_wall" "$m_peak" "$m_rate trk/s" "$pm_wall" "$pm_peak" "$pm_rate" "$(ratio "$m_rate" "$pm_rate")"
    counts="$size: ${nx}x${ny}x${nz}, tracks FACT $f_n, -sl $s_n"
    if [ $peer -eq 1 ]; then
        counts+=" | MRtrix3 FACT $(tck_count "$dir/fact.tck"), Tensor_Det $(tck_count "$dir/sl.tck")"
    fi
    echo "$counts" >&2
    rm -rf "$dir"
done

echo
printf '%-7s %-16s %8s %7s %12s | %8s %7s %12s | %6s\n' size program "wall s" "peak MB" rate \
    "peer s" "peer MB" "peer rate" ratio
printf '%s\n' "${rows[@]}"
echo
echo "peer: MRtrix3 (dwi2tensor+tensor2metric, tckgen FACT, tckgen Tensor_Det, tckresample), -nthreads 1;"
echo "ratio = our rate / peer rate (above 1: faster than the peer)."
