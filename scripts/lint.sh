#!/usr/bin/env bash
# clang-format and clang-tidy over the C++ files changed since a base commit (default: the
# previous commit), warnings as errors. Usage: scripts/lint.sh [BASE]
set -euo pipefail
cd "$(dirname "$0")/.."
base=${1:-HEAD~1}
git rev-parse --verify -q "$base" >/dev/null || base=$(git rev-list --max-parents=0 HEAD)
# (web/engine/bindings.cpp is compiled by emscripten only: the native compile database has no entry for it.)
mapfile -t files < <(git diff --name-only --diff-filter=AM "$base" -- '*.cpp' '*.hpp' |
  grep -v -E '^(platform/windows|tests/platform/windows|fuzz)/|^web/engine/bindings.cpp$' || true)
if [ ${#files[@]} -eq 0 ]; then
  echo "lint: no changed C++ files"
  exit 0
fi
clang-format --dry-run --Werror "${files[@]}"
[ -f build/compile_commands.json ] || cmake --preset default >/dev/null
sources=()
benches=()
for f in "${files[@]}"; do
  [[ $f == *.cpp ]] || continue
  # The benchmarks are only in the bench preset's compile database.
  if [[ $f == bench/* ]]; then benches+=("$f"); else sources+=("$f"); fi
done
if [ ${#sources[@]} -gt 0 ]; then
  clang-tidy -p build --quiet "${sources[@]}"
fi
if [ ${#benches[@]} -gt 0 ]; then
  [ -f build-bench/compile_commands.json ] || cmake --preset bench >/dev/null
  clang-tidy -p build-bench --quiet "${benches[@]}"
fi
echo "lint: ${#files[@]} files clean"
