#!/usr/bin/env bash
# `qmv apply` decides a value removal by the engine's value rule alone: traced by valgrind's
# callgrind, a keep-one run over a CSV file calls no function of the in-memory Excel
# (namespace qmv::memory), while a `qmv play` session, which runs on it, calls many (so the
# trace can tell). Usage: apply_runs_no_host_check.sh QMV EXAMPLES_DIR
set -euo pipefail
qmv=$1
examples=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# memory_calls COMMAND...: the distinct functions of qmv::memory the command ran.
memory_calls() {
  valgrind --tool=callgrind --callgrind-out-file="$work/trace" "$@" >"$work/stdout" 2>"$work/stderr"
  callgrind_annotate --threshold=100 "$work/trace" | grep -c 'qmv::memory::' || true
}

printf 'c\nVi\xe1\xbb\x87t\nVI\xe1\xbb\x86T\nabc\nABC\n' > "$work/in.csv"
apply=$(memory_calls "$qmv" apply keep-one -c c "$work/in.csv" -o "$work/out.csv")
printf 'c\nVi\xe1\xbb\x87t\n\nabc\n\n' > "$work/expected.csv"
if ! cmp -s "$work/out.csv" "$work/expected.csv"; then
  echo "qmv apply keep-one wrote another result:" >&2
  cat "$work/out.csv" >&2
  exit 1
fi
cd "$examples"
play=$(memory_calls "$qmv" play duplicates.qmv)
echo "functions of the in-memory host run: apply keep-one $apply, play duplicates.qmv $play"
if [ "$apply" -ne 0 ] || [ "$play" -eq 0 ]; then
  echo "qmv apply keep-one reached the in-memory host (or the trace sees nothing)" >&2
  exit 1
fi
