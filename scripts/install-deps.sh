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

# NiiVue's one-file browser bundle is all the QC views use, so only NiiVue's own package is
# fetched (none of the packages it builds from), at this version and checked against the
# registry's published digest before it is unpacked.
niivue_version=0.69.0
niivue_integrity="sha512-YMjQvJgD1W2b7DuoxkwlC4VxbrgIePRJ5qyQzXKxi2v2MBVg285P/CIQyg46oDDGDIcaNlbd+MhtO/edMbXJkA=="
viewer="$(cd "$(dirname "$0")/../workflow/viewer" && pwd)"
package="$viewer/node_modules/@niivue/niivue"
if [ ! -f "$package/dist/niivue.umd.js" ]; then
    echo "Installing NiiVue $niivue_version into $package"
    download=$(mktemp -d)
    trap 'rm -rf "$download"' EXIT
    (cd "$download" && npm pack --silent --loglevel=error "@niivue/niivue@$niivue_version" > name)
    tarball="$download/$(cat "$download/name")"
    digest="sha512-$(sha512sum "$tarball" | cut -d' ' -f1 |
        python3 -c 'import base64, sys; print(base64.b64encode(bytes.fromhex(sys.stdin.read().strip())).decode())')"
    if [ "$digest" != "$niivue_integrity" ]; then
        echo "NiiVue $niivue_version: the downloaded package's digest is not the published one" >&2
        exit 1
    fi
    mkdir -p "$package"
    tar -xzf "$tarball" -C "$package" --strip-components=1
fi
