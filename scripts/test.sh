#!/usr/bin/env bash
# Builds everything and runs the whole test suite: the release build, the same tests under
# AddressSanitizer and UndefinedBehaviorSanitizer, the short fuzzing runs, and the Windows
# add-in under Wine when its script is present.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/bootstrap.sh

jobs=$(nproc)

# Format and clang-tidy over the files of the latest commit, warnings as errors.
./scripts/lint.sh

cmake --preset default
cmake --build --preset default -j"$jobs"
ctest --preset default -j"$jobs" --label-exclude fuzz

cmake --preset debug
cmake --build --preset debug -j"$jobs"
ctest --preset debug -j"$jobs" --label-exclude fuzz

if [ -f fuzz/CMakeLists.txt ]; then
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQMV_BUILD_FUZZ=ON -DQMV_BUILD_TESTS=OFF
  cmake --build build-fuzz -j"$jobs"
  ctest --test-dir build-fuzz -j"$jobs" -L fuzz --output-on-failure
fi

if [ -x platform/windows/ci.sh ]; then
  platform/windows/ci.sh
fi
