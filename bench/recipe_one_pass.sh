#!/usr/bin/env bash
# A three-step recipe over a CSV of 1,000,000 records (trim, the tel. prefix, the digits
# of the phone column) beside each of its steps alone, in one run: the recipe is one pass
# over the file, so it should take at most 1.3 times the slowest step alone. The best of
# three runs of each is shown, with the ratio.
#
# Usage: bench/recipe_one_pass.sh [path/to/qmv] [records]
set -euo pipefail
. "$(dirname "$0")/setup.sh"

qmv=${1:-build/tools/qmv/qmv}
records=${2:-1000000}

bench_setup recipe_one_pass "$qmv"

awk -v n="$records" 'BEGIN {
  print "id,name,phone,city"
  for (i = 1; i <= n; i++) {
    printf "%d,  Name %d  Surname ,tel. +%d (%03d) %04d-%02d,City %d\n", i, i, i % 90, i % 1000, i % 10000, i % 97, i % 500
  }
}' > "$work/big.csv"
cat > "$work/recipe.json" <<'JSON'
{"version": 1, "name": "bench", "steps": [
  {"operation": "RLTE", "columns": ["phone"]},
  {"operation": "RTXT", "text": "tel. ", "columns": ["phone"]},
  {"operation": "RNDG", "columns": ["phone"]}]}
JSON

best() {  # best of three wall-clock seconds of the command
  local best=""
  for _ in 1 2 3; do
    local start end
    start=$(date +%s.%N)
    "$@" > /dev/null 2>&1
    end=$(date +%s.%N)
    best=$(awk -v a="$best" -v b="$(awk -v s="$start" -v e="$end" 'BEGIN{print e-s}')" \
           'BEGIN{ if (a == "" || b < a) print b; else print a }')
  done
  echo "$best"
}

echo "input: $records records, $(wc -c < "$work/big.csv") bytes"
slowest=0
for step in "RLTE" "RTXT --text tel." "RNDG"; do
  # shellcheck disable=SC2086
  t=$(best "$qmv" apply $step "$work/big.csv" -c phone -o "$work/out.csv")
  printf "%-18s %6.3f s\n" "$step alone" "$t"
  slowest=$(awk -v a="$slowest" -v b="$t" 'BEGIN{print (b > a) ? b : a}')
done
t=$(best "$qmv" apply --recipe "$work/recipe.json" "$work/big.csv" -o "$work/out.csv")
printf "%-18s %6.3f s\n" "recipe (3 steps)" "$t"
awk -v r="$t" -v s="$slowest" 'BEGIN{printf "ratio to the slowest step: %.2f (at most 1.30)\n", r / s}'
