#!/usr/bin/env bash
# Builds the small host project in scripts/consumer against this tree twice: through
# add_subdirectory, and through find_package on the package a built tree installs. Fails when
# either way no longer configures or compiles, or the package no longer links or plans.
#
#   scripts/check-consumer.sh [BUILT_TREE]   (default build/asan, as the test command leaves it)
#
# The package is installed from BUILT_TREE rather than built again: on two cores a second build
# of the library would take longer than every test suite together. The consumer is compiled with
# that tree's sanitizers so that it links against it. The add_subdirectory way checks what is
# its own (the library configuring as a subproject, its usage requirements reaching the host's
# code) by compiling the host's source; linking the same target is what the test suites do.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
tree=${1:-build/asan}
out=build/consumer
rm -rf "$out"
if [ ! -f "$tree/CMakeCache.txt" ]; then
    echo "check-consumer: $tree is not a built tree of this project (the test command makes build/asan)" >&2
    exit 2
fi
sanitize=$(sed -n 's/^ZOORBAL2_SANITIZE:STRING=//p' "$tree/CMakeCache.txt")
flags=(-G "Unix Makefiles" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-O0)
[ -n "$sanitize" ] && flags+=("-DCMAKE_CXX_FLAGS=-fsanitize=$sanitize -fno-omit-frame-pointer")

cmake -S scripts/consumer -B "$out/subdirectory" "${flags[@]}" -DZOORBAL2_SOURCE_DIR="$root" >/dev/null
cmake --build "$out/subdirectory" --target main.o >/dev/null

cmake --install "$tree" --prefix "$root/$out/prefix" >/dev/null
cmake -S scripts/consumer -B "$out/package" "${flags[@]}" -DCMAKE_PREFIX_PATH="$root/$out/prefix" >/dev/null
cmake --build "$out/package" -j "$(nproc)" >/dev/null
"$out/package/consumer"
