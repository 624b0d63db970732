#!/usr/bin/env bash
# `qmv apply` over a folder of 200 CSV files of 1 MB each with -j 1 and -j 2, in one run:
# with two processors -j 2 should take at most 0.6 times -j 1. The best of three runs of
# each is shown, with the ratio, and the two result trees are compared.
#
# Usage: bench/batch_jobs.sh [path/to/qmv] [files] [megabytes per file]
set -euo pipefail
. "$(dirname "$0")/setup.sh"

qmv=${1:-build/tools/qmv/qmv}
files=${2:-200}
megabytes=${3:-1}

bench_setup batch_jobs "$qmv"

mkdir -p "$work/in"
awk -v bytes="$((megabytes * 1024 * 1024))" 'BEGIN {
  print "id,name,phone,city"
  total = 0
  for (i = 1; total < bytes; i++) {
    line = sprintf("%d,  Name %d  Surname ,tel. +%d (%03d) %04d,City %d", i, i, i % 90, i % 1000, i % 10000, i % 500)
    print line
    total += length(line) + 1
  }
}' > "$work/one.csv"
for i in $(seq 1 "$files"); do cp "$work/one.csv" "$work/in/f$i.csv"; done

best() {
  local best=""
  for _ in 1 2 3; do
    rm -rf "$work/out"
    local start end
    start=$(date +%s.%N)
    "$@" > /dev/null 2>&1 || true
    end=$(date +%s.%N)
    best=$(awk -v a="$best" -v b="$(awk -v s="$start" -v e="$end" 'BEGIN{print e-s}')" \
           'BEGIN{ if (a == "" || b < a) print b; else print a }')
  done
  echo "$best"
}

echo "input: $files files of $(wc -c < "$work/one.csv") bytes, $(nproc) processors"
one=$(best "$qmv" apply RLTE,RNDG "$work/in" -c phone -o "$work/out" -j 1)
cp -r "$work/out" "$work/out1"
two=$(best "$qmv" apply RLTE,RNDG "$work/in" -c phone -o "$work/out" -j 2)
printf -- "-j 1  %6.3f s\n-j 2  %6.3f s\n" "$one" "$two"
awk -v a="$two" -v b="$one" 'BEGIN{printf "ratio: %.2f (at most 0.60)\n", a / b}'
diff -r "$work/out1" "$work/out" > /dev/null && echo "results: the same for -j 1 and -j 2"
