#!/usr/bin/env bash
# can_run32 LOADER PROGRAM: whether LOADER really runs the 32-bit test program PROGRAM here.
# Decided by what the program printed, its GoogleTest list (a "Suite." line), and never by the
# loader's exit status: without wine32, Debian's wine launcher falls back to wine64, which
# cannot start a 32-bit program ("failed to open ... syswow64\rundll32.exe": c0000135) and yet
# exits 0. Sourced by ci.sh; run as a script it prints yes or no.
can_run32() {
  local listed
  listed=$("$1" "$2" --gtest_list_tests 2>/dev/null | tr -d '\r') || true
  grep -Eq '^[A-Za-z_][A-Za-z0-9_/]*\.$' <<<"$listed"
}
if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
  if can_run32 "$@"; then echo yes; else echo no; fi
fi
