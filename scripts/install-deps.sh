#!/usr/bin/env bash
# Installs the Debian packages the toolkit builds against, only those that are missing, and
# NiiVue (the 3D QC views' viewer) from npm into workflow/viewer/node_modules when it is not there.
set -euo pipefail

packages=(cmake make g++ pkg-config libnifti2-dev zlib1g-dev libgtest-dev libbenchmark-dev libpng-dev
          clang-tidy snakemake chromium slurm-wlm munge
          python3-numpy python3-nibabel python3-dipy mrtrix3 libzip-dev help2man dpkg-dev file
          python3-matplotlib)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
# Node.js and npm only install NiiVue: any installation of them will do (a Node.js from
# elsewhere brings its own npm, which Debian's npm package would conflict with).
command -v node > /dev/null || missing+=(nodejs)
command -v npm > /dev/null || missing+=(npm)

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing missing packages: ${missing[*]}"
    if [ "$(id -u)" -eq 0 ]; then
        run() { "$@"; }
    else
        run() { sudo "$@"; }
    fi
    run apt-get update -qq
    DEBIAN_FRONTEND=noninteractive run apt-get install -y -qq --no-install-recommends \
        "${missing[@]}"
fi

# The versions in package-lock.json, exactly; no package runs install scripts.
viewer="$(cd "$(dirname "$0")/../workflow/viewer" && pwd)"
if [ ! -f "$viewer/node_modules/@niivue/niivue/dist/niivue.umd.js" ]; then
    echo "Installing NiiVue into $viewer/node_modules"
    (cd "$viewer" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error)
fi
