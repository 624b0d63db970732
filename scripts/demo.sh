#!/usr/bin/env bash
# Builds qmv and cleans the example CSV's phone numbers down to their digits, printing the
# file before and after.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/bootstrap.sh
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)" --target qmv
echo "== before: examples/contacts.csv"
cat examples/contacts.csv
echo
echo "== after: qmv apply non-digits examples/contacts.csv -c Phone (keep only the digits)"
build/tools/qmv/qmv apply non-digits examples/contacts.csv -c Phone
