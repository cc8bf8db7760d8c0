#!/usr/bin/env bash
# Installs the Debian packages the toolkit builds against, only those that are missing.
set -euo pipefail

packages=(cmake make g++ pkg-config libnifti2-dev zlib1g-dev libgtest-dev libbenchmark-dev libpng-dev
          clang-tidy snakemake chromium slurm-wlm munge
          python3-numpy python3-nibabel python3-dipy mrtrix3 libzip-dev)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
    run() { "$@"; }
else
    run() { sudo "$@"; }
fi
run apt-get update -qq
DEBIAN_FRONTEND=noninteractive run apt-get install -y -qq --no-install-recommends "${missing[@]}"
