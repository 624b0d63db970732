#!/usr/bin/env bash
# Peak resident memory of `qmv apply` over a large CSV (1 GiB by default), measured with
# /usr/bin/time -v: a character removal streams the file, so its memory must not grow with
# the file. The file is made in a temporary folder and removed afterwards.
#
# Usage: bench/qmv_memory.sh [path/to/qmv] [megabytes]
set -euo pipefail
. "$(dirname "$0")/setup.sh"

qmv=${1:-build/tools/qmv/qmv}
megabytes=${2:-1024}

bench_setup qmv_memory "$qmv"
bench_need_package qmv_memory time test -x /usr/bin/time

# Records of four fields, one of them quoted with a line break inside.
awk -v bytes="$((megabytes * 1024 * 1024))" 'BEGIN {
  print "id,phone,note,city"
  total = 0
  for (i = 1; total < bytes; i++) {
    line = sprintf("%d,+%d (%03d) %04d,\"a \"\"%d\"\"\nb\",Z%06d", i, i % 90, i % 1000, i % 10000, i, i)
    print line
    total += length(line) + 1
  }
}' > "$work/big.csv"

echo "input: $(wc -c < "$work/big.csv") bytes"
/usr/bin/time -v "$qmv" apply RNUM "$work/big.csv" -c phone,note -o "$work/out.csv" 2> "$work/time.txt"
grep -E "qmv apply|Maximum resident set size|Elapsed" "$work/time.txt"
