#!/usr/bin/env bash
# Installs the Debian 12 packages the project builds with; does nothing when all are there.
set -euo pipefail
packages=(cmake g++ make liblapack-dev libblas-dev libgtest-dev libgmock-dev libbenchmark-dev
          libeigen3-dev libnanoflann-dev libembree-dev libassimp-dev)
[ "${ZOORBAL2_WITH_PEERS:-0}" = 1 ] && packages+=(libceres-dev libopencv-dev)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
