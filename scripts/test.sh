#!/usr/bin/env bash
# Builds everything and runs the whole test suite: the release build, the same tests under
# AddressSanitizer and UndefinedBehaviorSanitizer, the short fuzzing runs, the Windows
# add-in under Wine and the web add-in in headless Chromium when their scripts are present.
set -euo pipefail
cd "$(dirname "$0")/.."
# Every download of the whole run first (packages, PCRE2's source, npm): a piece a mirror
# cannot serve stops the run here, named in one line, before any build.
./scripts/bootstrap.sh all

jobs=$(nproc)
summary=$(mktemp)
trap 'rm -f "$summary"' EXIT
# Runs ctest and keeps its closing count for the summary line.
run_ctest() {
  ctest "$@" | tee -a "$summary"
}

# Format and clang-tidy over the files of the latest commit, warnings as errors.
./scripts/lint.sh

cmake --preset default
cmake --build --preset default -j"$jobs"
run_ctest --preset default -j"$jobs" --label-exclude fuzz

cmake --preset debug
cmake --build --preset debug -j"$jobs"
run_ctest --preset debug -j"$jobs" --label-exclude fuzz

if [ -f fuzz/CMakeLists.txt ]; then
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQMV_BUILD_FUZZ=ON -DQMV_BUILD_TESTS=OFF
  cmake --build build-fuzz -j"$jobs"
  run_ctest --test-dir build-fuzz -j"$jobs" -L fuzz --output-on-failure
fi

# The Windows runs it had to leave out (32-bit programs on a machine that cannot run them)
# are named again in the closing lines.
skipped=$(mktemp)
trap 'rm -f "$summary" "$skipped"' EXIT
if [ -x platform/windows/ci.sh ]; then
  QMV_SKIP_NOTES=$skipped platform/windows/ci.sh
fi
# The web add-in: its engine in WebAssembly, its Excel side and its task pane.
if [ -x web/ci.sh ]; then
  web/ci.sh
fi

total=$(awk '/tests passed, .* tests failed out of/ {n += $NF} END {print n + 0}' "$summary")
echo "ctest: release, sanitizer and fuzz runs all passed"
sort -u "$skipped"
# Tests ctest left out (a tool that cannot run on this machine says why in its output).
grep -h '(Skipped)' "$summary" | sed 's/^[[:space:]]*/SKIP: ctest /' | sort -u || true
echo "${total} passed, 0 failed"
