#!/usr/bin/env bash
# Large tractograms stream: trkconvert and trksmooth on 20 million points (100,000 tracks of
# 200 points by default) beside MRtrix3's tckconvert and tckresample on the same tracks (a
# yardstick only), and trksmooth on one and two threads.
#
# Usage: bench/stream_bench.sh [BIN_DIR] [TRACKS] [POINTS]
#   BIN_DIR  folder holding the built programs (default: build/bin below the repository)
#
# Every command runs five times; the best wall time and the largest peak resident memory are
# reported. Each is run again on a tenth of the tracks: memory that streams stays the same.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$repo/build/bin}
tracks=${2:-100000}
points=${3:-200}
for program in trkconvert trksmooth; do
    [ -x "$bin/$program" ] || { echo "no $program in $bin" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
c++ -O2 -std=c++17 -I"$repo/common/tracks" -o "$work/gen" "$repo/bench/make_tracks.cpp"
"$work/gen" "$work/big.trk" "$work/big.tck" "$tracks" "$points"
"$work/gen" "$work/tenth.trk" "$work/tenth.tck" "$((tracks / 10))" "$points"
echo "$tracks tracks of $points points: .trk $(stat -c %s "$work/big.trk") bytes"

source "$repo/bench/timing.sh"

# row NAME SIZE COMMAND...: times COMMAND on SIZE (big or tenth, put in for the word SIZE).
row() {
    local name=$1
    shift
    local big=() tenth=()
    for word in "$@"; do
        big+=("${word//SIZE/big}")
        tenth+=("${word//SIZE/tenth}")
    done
    read -r wall peak < <(best 5 "${big[@]}")
    read -r _ tenth_peak < <(best 5 "${tenth[@]}")
    printf "%-44s %8s s %10s KB %10s KB\n" "$name" "$wall" "$peak" "$tenth_peak"
}

printf "%-44s %10s %13s %13s\n" "command (one thread)" "best wall" "peak" "peak on 1/10"
export DTI_NTHREADS=1
row "trkconvert .trk -> .tck" "$bin/trkconvert" "$work/SIZE.trk" "$work/SIZE_out.tck"
row "trkconvert .tck -> .tck" "$bin/trkconvert" "$work/SIZE.tck" "$work/SIZE_copy.tck"
row "trkconvert .trk -> .trx" "$bin/trkconvert" "$work/SIZE.trk" "$work/SIZE_out.trx"
row "trkconvert .trx -> .trk" "$bin/trkconvert" "$work/SIZE_out.trx" "$work/SIZE_back.trk"
row "trksmooth .trk 0.5 (1 mm)" "$bin/trksmooth" "$work/SIZE.trk" 0.5 "$work/SIZE_s.trk"
row "trksmooth .tck 1 (1 mm)" "$bin/trksmooth" "$work/SIZE.tck" 1 "$work/SIZE_s.tck"
if command -v tckconvert > /dev/null; then
    row "tckconvert .tck -> .tck" tckconvert -quiet -force -nthreads 1 "$work/SIZE.tck" \
        "$work/SIZE_peer.tck"
    row "tckresample -step_size 1" tckresample -quiet -force -nthreads 1 -step_size 1 \
        "$work/SIZE.tck" "$work/SIZE_peer_s.tck"
else
    echo "MRtrix3 not installed: no comparison"
fi

read -r one _ < <(DTI_NTHREADS=1 best 5 "$bin/trksmooth" "$work/big.trk" 0.5 "$work/one.trk")
read -r two _ < <(DTI_NTHREADS=2 best 5 "$bin/trksmooth" "$work/big.trk" 0.5 "$work/two.trk")
cmp -s "$work/one.trk" "$work/two.trk" || { echo "trksmooth output differs by thread count" >&2; exit 1; }
echo "trksmooth .trk: 1 thread ${one} s, 2 threads ${two} s, speed-up" \
     "$(awk "BEGIN{printf \"%.2f\", $one / ($two > 0 ? $two : 0.01)}")x (same bytes)"
