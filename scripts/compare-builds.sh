#!/usr/bin/env bash
# Runs every program on the same phantom with two builds and compares what they write, byte for
# byte: every tenscalc map in three formats, the four tracking methods, smoothing, pictures,
# gradcheck's table and verdict, and each program's messages. For changes that must not change
# any output (restructuring, speed work).
#   scripts/compare-builds.sh OLD_BIN_DIR NEW_BIN_DIR [WORK_DIR]
# Differences are listed; the exit status is 1 when there is any. The run log's date and the
# "Time taken" lines are left out of the comparison.
set -euo pipefail

[ $# -ge 2 ] || { sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
old_bin=$(cd "$1" && pwd)
new_bin=$(cd "$2" && pwd)
work=${3:-$(mktemp -d)}
mkdir -p "$work"

# One run of every program into $1 with the programs of $2; messages go to NAME.out/.err.
run_all() {
    local out=$1 bin=$2
    mkdir -p "$out"
    cd "$out"
    run() {
        local name=$1
        shift
        set +e
        "$@" >"$name.out" 2>"$name.err"
        echo "$?" >"$name.status"
        set -e
        sed -i -e '/^Time taken/d' "$name.out"
    }
    run phantom "$bin/dwiphantom" ph -s small
    run phantom_slanted "$bin/dwiphantom" sl -s small -slanted -las
    for type in nii nii.gz ni1 analyze; do
        run "tenscalc_$type" "$bin/tenscalc" ph.nii "t_$type" -gm ph_grad.txt -ot "$type"
    done
    run tenscalc_wls "$bin/tenscalc" ph.nii wls -gm ph_grad.txt -fit wls -no_eigen
    run tenscalc_fsl "$bin/tenscalc" sl.nii fsl -bvec sl.bvec -bval sl.bval -export_grad fsl.txt
    local method
    for method in fact rk2 tl sl; do
        run "fiberwalk_$method" "$bin/fiberwalk" t_nii "tracks_$method.trk" -"$method" \
            -m t_nii_fa.nii 0.2 1.1 -rseed 2 -seed 7
        run "trksmooth_$method" "$bin/trksmooth" "tracks_$method.trk" 0.5 "smooth_$method.trk"
    done
    run trkview "$bin/trkview" t_nii_fa_color.nii smooth_fact.trk view.png -s 4
    run trkview_mosaic "$bin/trkview" t_nii_fa_color.nii smooth_fact.trk mosaic.png -mosaic
    run gradcheck "$bin/gradcheck" sl.nii -bvec sl.bvec -bval sl.bval -export checked
    local program
    for program in tenscalc fiberwalk dwiphantom trkview gradcheck; do
        run "help_$program" "$bin/$program" --help
        run "wrong_$program" "$bin/$program" a b -no_such_switch
    done
    run usage_trksmooth "$bin/trksmooth"
    # The run log's first field is the date of the run.
    sed -i -e 's/^[^\t]*\t//' fiberwalk.log
    cd - >/dev/null
}

# Both builds run in the same folder through the same link, since the run log records both.
rm -rf "$work/old" "$work/new" "$work/run"
ln -sfn "$old_bin" "$work/bin"
run_all "$work/run" "$work/bin"
mv "$work/run" "$work/old"
ln -sfn "$new_bin" "$work/bin"
run_all "$work/run" "$work/bin"
mv "$work/run" "$work/new"
if diff -r "$work/old" "$work/new" >"$work/differences.txt"; then
    echo "same: $(find "$work/old" -type f | wc -l) files in $work/old and $work/new"
else
    cat "$work/differences.txt"
    exit 1
fi
