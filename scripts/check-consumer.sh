#!/usr/bin/env bash
# Builds the small host project in scripts/consumer against this tree twice: through
# add_subdirectory, and through find_package on the package that tree installs. Fails when
# either way no longer configures, links or plans.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=build/consumer
rm -rf "$out"
# No optimisation, no debug information: this checks the build's plumbing, not the code.
flags=(-DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-O0)
cmake -S scripts/consumer -B "$out/subdirectory" "${flags[@]}" -DZOORBAL2_SOURCE_DIR="$root" >/dev/null
cmake --build "$out/subdirectory" -j "$(nproc)" >/dev/null
"$out/subdirectory/consumer"
cmake --install "$out/subdirectory" --prefix "$root/$out/prefix" >/dev/null
cmake -S scripts/consumer -B "$out/package" "${flags[@]}" -DCMAKE_PREFIX_PATH="$root/$out/prefix" >/dev/null
cmake --build "$out/package" -j "$(nproc)" >/dev/null
"$out/package/consumer"
