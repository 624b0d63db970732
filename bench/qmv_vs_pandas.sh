#!/usr/bin/env bash
# Times `qmv apply` against Debian's python3-pandas doing the same jobs on the same
# 1,000,000-row CSVs: RNUM (read the file, remove every digit, write the result) and RADP
# (blank every value that occurs more than once: duplicated(keep=False), then blank).
# Both results must be the same bytes; the script prints both times, wall clock and CPU (on a shared
# machine the CPU time is the steadier of the two).
#
# Usage: bench/qmv_vs_pandas.sh [path/to/qmv] [rows]
# The default qmv is build/tools/qmv/qmv (build it with the default preset first).
set -euo pipefail
. "$(dirname "$0")/setup.sh"

qmv=${1:-build/tools/qmv/qmv}
rows=${2:-1000000}
python=/usr/bin/python3  # Debian's interpreter, the one python3-pandas installs into

bench_setup qmv_vs_pandas "$qmv"
bench_need_package qmv_vs_pandas python3-pandas "$python" -c 'import pandas'

# One column of phone-number-like texts under a header.
awk -v rows="$rows" 'BEGIN {
  print "phone"
  for (i = 1; i <= rows; i++) {
    n = (i * 7919) % 10000000
    printf "+%d (%03d) %03d-%04d\n", i % 90 + 1, n % 1000, int(n / 1000) % 1000, (i * 31) % 10000
  }
}' > "$work/in.csv"

cat > "$work/digits.py" <<'EOF'
import sys
import pandas as pd

df = pd.read_csv(sys.argv[1], dtype=str, keep_default_na=False)
for column in df.columns:
    df[column] = df[column].str.replace(r"[0-9]", "", regex=True)
df.to_csv(sys.argv[2], index=False)
EOF

measure() {  # measure COMMAND...: prints "wall cpu" seconds (cpu = user + system)
  local TIMEFORMAT='%3R %3U %3S'
  { time "$@" >/dev/null 2>&1; } 2>&1 | awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }'
}
best_of() {  # best_of N COMMAND...: the least wall and the least CPU time of N runs
  local n=$1 best_wall=999 best_cpu=999 wall cpu
  shift
  for ((k = 0; k < n; k++)); do
    read -r wall cpu < <(measure "$@")
    best_wall=$(awk -v a="$best_wall" -v b="$wall" 'BEGIN { print (b < a ? b : a) }')
    best_cpu=$(awk -v a="$best_cpu" -v b="$cpu" 'BEGIN { print (b < a ? b : a) }')
  done
  echo "$best_wall $best_cpu"
}

echo "input: $rows rows, $(wc -c < "$work/in.csv") bytes"
read -r qmv_time qmv_cpu < <(measure "$qmv" apply RNUM "$work/in.csv" -o "$work/qmv.csv")
read -r pandas_time pandas_cpu < <(measure "$python" "$work/digits.py" "$work/in.csv" "$work/pandas.csv")

if ! cmp -s "$work/qmv.csv" "$work/pandas.csv"; then
  echo "qmv_vs_pandas: the two results differ" >&2
  diff <(head -5 "$work/qmv.csv") <(head -5 "$work/pandas.csv") >&2 || true
  exit 1
fi
echo "qmv apply RNUM:                        ${qmv_time} s (CPU ${qmv_cpu} s)"
echo "pandas read_csv, str.replace, to_csv:  ${pandas_time} s (CPU ${pandas_cpu} s)"
ratio() {  # ratio QMV PANDAS: how many times as fast qmv is
  awk -v q="$1" -v p="$2" 'BEGIN { if (q > 0) printf "qmv is %.1f times as fast as pandas\n", p / q }'
}
ratio "$qmv_time" "$pandas_time"

# The floor for the same bytes: tr removes the digits without reading CSV at all. Both
# take a few tens of milliseconds here, so each is timed to the millisecond, best of
# $tr_runs runs (the least is the run the other engineers' load disturbed least).
tr_runs=7
read -r qmv_time qmv_cpu < <(best_of "$tr_runs" "$qmv" apply RNUM "$work/in.csv" -o "$work/qmv.csv")
tr_digits() { tr -d 0-9 < "$work/in.csv" > "$work/tr.csv"; }  # timed without a shell of its own
read -r tr_time tr_cpu < <(best_of "$tr_runs" tr_digits)
if ! cmp -s "$work/qmv.csv" "$work/tr.csv"; then
  echo "qmv_vs_pandas: qmv and tr -d 0-9 differ" >&2
  exit 1
fi
echo "qmv apply RNUM, best of $tr_runs:              ${qmv_time} s (CPU ${qmv_cpu} s)"
echo "tr -d 0-9, best of $tr_runs:                   ${tr_time} s (CPU ${tr_cpu} s)"
awk -v q="$qmv_cpu" -v t="$tr_cpu" 'BEGIN { if (t > 0) printf "qmv takes %.2f times the CPU time of tr\n", q / t }'

# One column of numbers, most of them repeated (digits only, so that letter case, which
# qmv ignores when comparing and pandas does not, plays no part).
awk -v rows="$rows" 'BEGIN {
  print "id"
  distinct = int(rows * 0.7) + 1
  for (i = 1; i <= rows; i++) printf "%d\n", (i * 7919) % distinct
}' > "$work/ids.csv"

cat > "$work/duplicates.py" <<'PY'
import sys
import pandas as pd

df = pd.read_csv(sys.argv[1], dtype=str, keep_default_na=False)
column = df.columns[0]
df.loc[df[column].duplicated(keep=False) & (df[column] != ""), column] = ""
df.to_csv(sys.argv[2], index=False)
PY

read -r qmv_time qmv_cpu < <(measure "$qmv" apply RADP "$work/ids.csv" -o "$work/qmv-ids.csv")
read -r pandas_time pandas_cpu < <(measure "$python" "$work/duplicates.py" "$work/ids.csv" "$work/pandas-ids.csv")
# pandas writes an empty field of a one-column file as "".
if ! cmp -s "$work/qmv-ids.csv" <(sed 's/^""$//' "$work/pandas-ids.csv"); then
  echo "qmv_vs_pandas: the two RADP results differ" >&2
  exit 1
fi
echo "qmv apply RADP:                        ${qmv_time} s (CPU ${qmv_cpu} s)"
echo "pandas duplicated(keep=False), blank:  ${pandas_time} s (CPU ${pandas_cpu} s)"
ratio "$qmv_time" "$pandas_time"

# One column of a ten-column CSV of about 127 MB with quoted fields (commas and doubled
# quotes inside): the other nine are copied byte for byte. Best of three, as MB/s.
awk -v rows=$((rows * 115 / 100)) 'BEGIN {
  print "a,b,c,d,e,f,g,h,i,j"
  for (i = 1; i <= rows; i++)
    printf "\"row %d, first\",%d,\"say \"\"hi\"\" %d\",x%d,\"%d-%d\",plain text here,%d.%d,\"q, r\",z%d,last field\n", i, i * 7, i, i % 97, i % 13, i % 1000, i, i % 100, i
}' > "$work/wide.csv"
bytes=$(wc -c < "$work/wide.csv")
read -r best_wall best_cpu < <(best_of 3 "$qmv" apply digits "$work/wide.csv" -c c -o "$work/wide-out.csv")
awk -v n="$bytes" -v w="$best_wall" -v c="$best_cpu" 'BEGIN {
  printf "qmv apply digits -c c, %d MB of ten quoted columns: %.0f MB/s (CPU %.0f MB/s), best of three\n",
         n / 1e6, (w > 0 ? n / 1e6 / w : 0), (c > 0 ? n / 1e6 / c : 0) }'
