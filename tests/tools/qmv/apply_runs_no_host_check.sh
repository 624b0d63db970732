#!/usr/bin/env bash
# `qmv apply` decides a value removal by the engine's value rule alone: traced by valgrind's
# callgrind, a keep-one run over a CSV file calls no function of the in-memory Excel
# (namespace qmv::memory), while a `qmv play` session, which runs on it, calls many (so the
# trace can tell). Usage: apply_runs_no_host_check.sh QMV EXAMPLES_DIR
#
# The result is checked on a plain run first. Where valgrind cannot run the program on this
# machine (a processor or kernel it does not know), the trace is left out: exit status 77,
# which ctest reports as skipped, with valgrind's own words.
set -euo pipefail
qmv=$(realpath "$1")
examples=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf 'c\nVi\xe1\xbb\x87t\nVI\xe1\xbb\x86T\nabc\nABC\n' > "$work/in.csv"
printf 'c\nVi\xe1\xbb\x87t\n\nabc\n\n' > "$work/expected.csv"

# check_result LABEL: the keep-one run wrote the expected file.
check_result() {
  if ! cmp -s "$work/out.csv" "$work/expected.csv"; then
    echo "qmv apply keep-one $1 wrote another result:" >&2
    cat "$work/out.csv" "$work/stderr" >&2 2>/dev/null || true
    exit 1
  fi
  rm -f "$work/out.csv"
}

"$qmv" apply keep-one -c c "$work/in.csv" -o "$work/out.csv" 2>"$work/stderr"
check_result "(untraced)"

# memory_calls COMMAND...: the distinct functions of qmv::memory the command ran under
# callgrind; exits 77 when valgrind cannot run it here.
memory_calls() {
  if ! valgrind --tool=callgrind --callgrind-out-file="$work/trace" "$@" \
      >"$work/stdout" 2>"$work/stderr"; then
    echo "SKIP: valgrind could not trace '$*' on this machine:" >&2
    grep -v '^==[0-9]*== *$' "$work/stderr" | tail -n 8 >&2
    exit 77
  fi
  callgrind_annotate --threshold=100 "$work/trace" | grep -c 'qmv::memory::' || true
}

apply=$(memory_calls "$qmv" apply keep-one -c c "$work/in.csv" -o "$work/out.csv")
check_result "(traced)"
cd "$examples"
play=$(memory_calls "$qmv" play duplicates.qmv)
echo "functions of the in-memory host run: apply keep-one $apply, play duplicates.qmv $play"
if [ "$apply" -ne 0 ] || [ "$play" -eq 0 ]; then
  echo "qmv apply keep-one reached the in-memory host (or the trace sees nothing)" >&2
  exit 1
fi
