#!/usr/bin/env bash
# The 32-bit probe of platform/windows/ci.sh against loaders that behave as Wine does with and
# without wine32: each row a loader script, what it prints and how it exits, and the answer.
set -u
probe=$(dirname "$0")/../../../platform/windows/run32_probe.sh
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failed=0
passed=0
row() {  # row NAME EXPECTED BODY: a loader whose body is BODY must give EXPECTED
  printf '#!/usr/bin/env bash\n%s\n' "$3" >"$dir/loader"
  chmod +x "$dir/loader"
  local got
  got=$(bash "$probe" "$dir/loader" "$dir/test_platform_windows.exe")
  if [[ $got == "$2" ]]; then
    passed=$((passed + 1))
  else
    echo "FAIL: $1: probe said $got, expected $2"
    failed=$((failed + 1))
  fi
}
list='printf "ComServer.\r\n  Registers\r\nWinForms.\r\n  Paints\r\n"'
row "wine64 alone: nothing printed, status 0" no 'exit 0'
row "wine64 alone: its loader error, status 0" no \
  'echo "wine: failed to open L\"C:\\windows\\syswow64\\rundll32.exe\": c0000135" >&2; exit 0'
row "a message on standard output, status 0" no 'echo "it looks like wine32 is missing"; exit 0'
row "a kernel without 32-bit support" no 'echo "cannot execute binary file" >&2; exit 126'
row "wine32: the test list, CRLF lines" yes "$list"
row "wine32: the test list, then a failing teardown" yes "$list; exit 3"
row "the program is given its listing flag" yes \
  '[[ $2 == --gtest_list_tests ]] && printf "Suite.\n  Case\n"'
rm -f "$dir/loader"
if [[ $(bash "$probe" "$dir/loader" "$dir/x.exe") == no ]]; then passed=$((passed + 1)); else
  echo "FAIL: a loader that is not there"; failed=$((failed + 1)); fi
echo "$passed passed, $failed failed"
((failed == 0))
