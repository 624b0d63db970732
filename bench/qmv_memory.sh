#!/usr/bin/env bash
# Peak resident memory of `qmv apply` over a large CSV (1 GiB by default), measured with
# /usr/bin/time -v: a character removal streams the file, so its memory must not grow with
# the file. The file is made in a temporary folder and removed afterwards.
#
# Usage: bench/qmv_memory.sh [path/to/qmv] [megabytes]
set -euo pipefail
cd "$(dirname "$0")/.."

qmv=${1:-build/tools/qmv/qmv}
megabytes=${2:-1024}
if [ ! -x "$qmv" ]; then
  echo "qmv_memory: $qmv is not built" >&2
  exit 2
fi
if [ ! -x /usr/bin/time ]; then
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends time >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

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
