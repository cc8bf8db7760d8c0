#!/usr/bin/env bash
# Runs clang-tidy with the checks in .clang-tidy over the toolkit's own sources (not the tests);
# any finding fails. Needs a configured build folder with compile_commands.json (made here).
#   scripts/tidy.sh [BUILD_DIR]     default build-tidy/
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${1:-build-tidy}
cmake -S . -B "$build_dir" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DDTI_BUILD_TESTS=OFF >/dev/null
run-clang-tidy -p "$build_dir" -j "$(nproc)" -quiet \
    "$PWD/(common|diffusion|tenscalc|fiberwalk|trksmooth|dwiphantom|trkview|gradcheck|trkconvert|trkprofile)/" > "$build_dir/tidy.log" 2>&1 || {
    sed 's/\x1b\[[0-9;]*m//g' "$build_dir/tidy.log" | grep -E -A4 '(error|warning): .*\[' >&2
    echo "clang-tidy found problems (full log: $build_dir/tidy.log)" >&2
    exit 1
}
echo "clang-tidy: no findings"
