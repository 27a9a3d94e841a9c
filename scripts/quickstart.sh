#!/usr/bin/env bash
# The README's two commands: `main` builds and runs the orbal2 program on the reference
# device; `test` builds every test suite (address and undefined-behaviour sanitizers), runs
# them, then builds and runs the threaded suites under ThreadSanitizer, then checks a small host
# project against the library through add_subdirectory and through the package the sanitizer
# build installs.
# Sanitizer builds keep line tables (-g1) for their reports but skip full debug information,
# which slows the build on two cores.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)
case "${1:-}" in
main)
    cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DZOORBAL2_BUILD_TESTS=OFF >/dev/null
    cmake --build build/release -j "$jobs" --target orbal2
    shift
    ./build/release/apps/orbal2/orbal2 "$@"
    ;;
test)
    cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" \
        -DZOORBAL2_SANITIZE=address,undefined >/dev/null
    cmake --build build/asan -j "$jobs"
    (cd build/asan && ctest --output-on-failure -j "$jobs")
    cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" \
        -DZOORBAL2_SANITIZE=thread -DZOORBAL2_BUILD_APPS=OFF >/dev/null
    threaded=$(cat tests/threaded-suites.txt)
    targets=()
    for s in $threaded; do targets+=(--target "ZoOrbal2Tests_$s"); done
    cmake --build build/tsan -j "$jobs" "${targets[@]}"
    (cd build/tsan && ctest --output-on-failure -j "$jobs" -L "^($(echo $threaded | tr ' ' '|'))\$")
    bash scripts/check-consumer.sh
    ;;
*)
    echo "usage: scripts/quickstart.sh main|test" >&2
    exit 2
    ;;
esac
