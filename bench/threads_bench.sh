#!/usr/bin/env bash
# Speed-up and memory of the three programs on two threads against one, on this machine:
#   tenscalc  on the large phantom (128x128x72, 65 volumes, .nii)
#   fiberwalk FACT and fixed-step streamline (-sl) on the medium phantom (96x96x60), FA >= 0.2
#   trksmooth on 100,000 tracks of 200 points (bench/make_tracks.cpp)
# Best wall time of RUNS (default 3) runs each, and the largest peak resident memory. From the
# two-thread speed-up S the serial fraction f = 2/S - 1 (Amdahl) and the speed-up it predicts
# for 16 and 64 cores, 1 / (f + (1 - f) / n), are printed. Outputs are compared byte for byte
# between the thread counts. The MRtrix3 rows (dwi2tensor, tckgen, tckresample, each with
# -nthreads 1 and 2) are printed when the Debian package mrtrix3 is installed.
#   bench/threads_bench.sh [BUILD_DIR]
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$repo/build}" && pwd)
bin=$build/bin
runs=${RUNS:-3}
for program in dwiphantom tenscalc fiberwalk trksmooth; do
    [ -x "$bin/$program" ] || { echo "missing $bin/$program" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# best LABEL COMMAND...: "seconds peak_MiB" of the fastest run.
best() {
    local best="" peak=0
    for _ in $(seq "$runs"); do
        /usr/bin/time -f "%e %M" -o time "$@" >/dev/null 2>err || { cat err >&2; exit 1; }
        read -r seconds kib < time
        if [ -z "$best" ] || awk "BEGIN{exit !($seconds < $best)}"; then best=$seconds; fi
        [ "$kib" -gt "$peak" ] && peak=$kib
    done
    echo "$best $((peak / 1024))"
}

report() {  # NAME T1 M1 T2 M2
    awk -v name="$1" -v t1="$2" -v m1="$3" -v t2="$4" -v m2="$5" 'BEGIN {
        s = t1 / (t2 > 0 ? t2 : 0.01); f = 2 / s - 1; if (f < 0) f = 0;
        printf "%-22s %8.2f s %6d MiB %8.2f s %6d MiB %7.2fx  serial %5.3f  16 cores %5.1fx  64 cores %5.1fx\n",
               name, t1, m1, t2, m2, s, f, 1 / (f + (1 - f) / 16), 1 / (f + (1 - f) / 64) }'
}

echo "Preparing inputs in $work ..."
"$bin/dwiphantom" large -s large -zb >/dev/null
"$bin/dwiphantom" medium -s medium >/dev/null
"$bin/tenscalc" medium.nii medium -gm medium_grad.txt >/dev/null
c++ -O2 -std=c++17 -I"$repo/common" -o make_tracks "$repo/bench/make_tracks.cpp"
./make_tracks tracks.trk tracks.tck 100000 200

printf '%-22s %10s %10s %10s %10s %8s\n' program "1 thread" "peak" "2 threads" "peak" speedup
read -r t1 m1 < <(best "$bin/tenscalc" large.nii one -gm large_grad.txt -nthreads 1)
read -r t2 m2 < <(best "$bin/tenscalc" large.nii two -gm large_grad.txt -nthreads 2)
report "tenscalc large" "$t1" "$m1" "$t2" "$m2"
cmp <(cat one_*.nii) <(cat two_*.nii) >/dev/null || echo "  maps differ between thread counts!"

for method in fact sl; do
    read -r t1 m1 < <(best "$bin/fiberwalk" medium one.trk -m medium_fa.nii 0.2 1.1 "-$method" -nthreads 1)
    read -r t2 m2 < <(best "$bin/fiberwalk" medium two.trk -m medium_fa.nii 0.2 1.1 "-$method" -nthreads 2)
    report "fiberwalk -$method medium" "$t1" "$m1" "$t2" "$m2"
    cmp one.trk two.trk >/dev/null || echo "  tracks differ between thread counts!"
done

read -r t1 m1 < <(DTI_NTHREADS=1 best "$bin/trksmooth" tracks.trk 0.5 one_s.trk)
read -r t2 m2 < <(DTI_NTHREADS=2 best "$bin/trksmooth" tracks.trk 0.5 two_s.trk)
report "trksmooth 100k x 200" "$t1" "$m1" "$t2" "$m2"
cmp one_s.trk two_s.trk >/dev/null || echo "  smoothed tracks differ between thread counts!"

if command -v dwi2tensor >/dev/null; then
    awk '!/^[#;]/ && NF >= 3 { gsub(",", " "); n = split($0, v, " ");
         b = (v[1] == 0 && v[2] == 0 && v[3] == 0) ? 0 : 1000; print v[1], v[2], v[3], b }' \
        large_grad.txt > large.b
    for n in 1 2; do
        read -r t m < <(best dwi2tensor -force -quiet -ols -iter 0 -nthreads "$n" -grad large.b large.nii peer.mif)
        echo "dwi2tensor -ols -iter 0 -nthreads $n: $t s, $m MiB"
        read -r t m < <(best tckresample -quiet -force -step_size 1 -nthreads "$n" tracks.tck out.tck)
        echo "tckresample -step_size 1 -nthreads $n: $t s, $m MiB"
    done
else
    echo "MRtrix3 not installed: no peer rows"
fi
