#!/usr/bin/env bash
# Installs what is missing, configures, builds and runs every test.
#   scripts/test.sh              normal build in build/
#   scripts/test.sh --sanitize   AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
# The normal run also checks the sources with clang-tidy (scripts/tidy.sh) and runs a small study
# through the Slurm profile on a local Slurm (scripts/slurm-check.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build
cmake_args=(-DDTI_WERROR=ON)
if [ "${1:-}" = "--sanitize" ]; then
    build_dir=build-asan
    cmake_args+=(-DDTI_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo)
fi

scripts/install-deps.sh
cmake -S . -B "$build_dir" "${cmake_args[@]}" >/dev/null
cmake --build "$build_dir" -j"$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build_dir" --output-on-failure -j"$(nproc)"
if [ "${1:-}" != "--sanitize" ]; then
    scripts/tidy.sh
    # The workflow's Slurm profile on a real single-node Slurm started for the check.
    scripts/slurm-check.sh "$build_dir"
fi
