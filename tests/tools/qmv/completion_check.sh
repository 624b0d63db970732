#!/usr/bin/env bash
# The bash completion of `qmv apply OPERATION` offers real operations only, and every code of
# the operation table (as the message for an unknown operation lists them).
# Usage: completion_check.sh QMV COMPLETION
set -u
qmv=$1
PATH="$(dirname "$qmv"):$PATH"
# shellcheck source=/dev/null
source "$2"
COMP_WORDS=(qmv apply "")
COMP_CWORD=2
_qmv
status=0
for name in "${COMPREPLY[@]}"; do
  if qmv apply "$name" - --dry-run </dev/null 2>&1 | grep -q "is not an operation"; then
    echo "offered, but not an operation: $name"
    status=1
  fi
done
codes=$(qmv apply RXYZ - </dev/null 2>&1 | sed -n 's/.*give a code (\([A-Z ]*\)).*/\1/p')
[ -n "$codes" ] || { echo "the unknown-operation message lists no codes"; exit 1; }
for code in $codes; do
  if ! printf '%s\n' "${COMPREPLY[@]}" | grep -qx "$code"; then
    echo "not offered: $code"
    status=1
  fi
done
for name in digits non-digits non-alphanumeric line-breaks before position; do
  printf '%s\n' "${COMPREPLY[@]}" | grep -qx "$name" || { echo "not offered: $name"; status=1; }
done
echo "${#COMPREPLY[@]} operations offered"
exit $status
