#!/usr/bin/env bash
# Times qmv's three value removals over a CSV column against the usual peers for the same
# job, side by side in one run: `sort -u` (LC_ALL=C) and mawk's `!seen[$0]++`. Columns of
# 1,000,000 and 10,000,000 rows, once with every value distinct and once with each value
# 10 times (in mixed order). For each it prints wall time, CPU time (user + system) and the
# peak resident memory (/usr/bin/time -v), and checks the outputs: the rows keep one
# leaves non-empty are exactly mawk's output, and as a set they are sort -u's.
#
# Usage: bench/value_removals_vs_peers.sh [path/to/qmv] [rows...]
# The default qmv is build/tools/qmv/qmv (build it with the default preset first); the
# default rows are 1000000 10000000.
set -euo pipefail
. "$(dirname "$0")/setup.sh"

qmv=${1:-build/tools/qmv/qmv}
shift || true
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1000000 10000000)

bench_setup value_removals_vs_peers "$qmv"
bench_need_package value_removals_vs_peers mawk mawk -W version
bench_need_package value_removals_vs_peers time test -x /usr/bin/time

# run LABEL COMMAND...: one row of the table (wall s, CPU s, peak MiB); output to $work/out.
run() {
  local label=$1
  shift
  /usr/bin/time -f '%e %U %S %M' -o "$work/time" "$@" > "$work/out" 2>/dev/null
  read -r wall user sys kib < "$work/time"
  awk -v l="$label" -v w="$wall" -v u="$user" -v s="$sys" -v k="$kib" \
    'BEGIN { printf "  %-22s %8.2f s %8.2f s CPU %8.1f MiB\n", l, w, u + s, k / 1024 }'
}

for rows in "${sizes[@]}"; do
  for repeat in 1 10; do
    distinct=$((rows / repeat))
    # Values of 12 bytes ("v" and 11 digits), each of `distinct` values `repeat` times,
    # spread by a multiplier prime to the count so that repeats do not stand together.
    LC_ALL=C mawk -v rows="$rows" -v distinct="$distinct" 'BEGIN {
      print "value"
      for (i = 0; i < rows; i++) printf "v%011d\n", (i * 7919) % distinct
    }' > "$work/in.csv"
    tail -n +2 "$work/in.csv" > "$work/values"
    echo "$rows rows, $distinct distinct values ($(wc -c < "$work/in.csv") bytes):"
    run "sort -u (LC_ALL=C)" env LC_ALL=C sort -u "$work/values"
    mv "$work/out" "$work/sort.out"
    run "mawk !seen[\$0]++" mawk '!seen[$0]++' "$work/values"
    mv "$work/out" "$work/mawk.out"
    for op in keep-one duplicates unique; do
      run "qmv $op" "$qmv" apply "$op" -c value --quiet "$work/in.csv"
      mv "$work/out" "$work/$op.out"
    done
    # keep one: its non-empty rows are mawk's output, and their set is sort -u's.
    tail -n +2 "$work/keep-one.out" | grep -v '^$' > "$work/kept" || true
    if ! cmp -s "$work/kept" "$work/mawk.out"; then
      echo "value_removals_vs_peers: keep-one's rows differ from mawk's" >&2
      exit 1
    fi
    if ! LC_ALL=C sort "$work/kept" | cmp -s - "$work/sort.out"; then
      echo "value_removals_vs_peers: keep-one's rows are not sort -u's set" >&2
      exit 1
    fi
    # Each value is repeated or none is: every repeat goes, or every value is unique.
    expect_dup=$([ "$repeat" -gt 1 ] && echo 0 || echo "$rows")
    expect_uniq=$([ "$repeat" -gt 1 ] && echo "$rows" || echo 0)
    left_dup=$(tail -n +2 "$work/duplicates.out" | grep -c -v '^$' || true)
    left_uniq=$(tail -n +2 "$work/unique.out" | grep -c -v '^$' || true)
    if [ "$left_dup" -ne "$expect_dup" ] || [ "$left_uniq" -ne "$expect_uniq" ]; then
      echo "value_removals_vs_peers: duplicates left $left_dup values, unique $left_uniq" >&2
      exit 1
    fi
  done
done
echo "outputs: keep-one = mawk's rows = sort -u's set; duplicates and unique as expected"
