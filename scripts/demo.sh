#!/usr/bin/env bash
# Builds qmv and runs a removal over the example CSV, printing the cells before and after.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/bootstrap.sh
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)" --target qmv
echo "== before: examples/contacts.csv"
cat examples/contacts.csv
echo
echo "== after: qmv apply digits examples/contacts.csv --range B2:B6"
build/tools/qmv/qmv apply digits examples/contacts.csv --range B2:B6
