#!/usr/bin/env bash
# scripts/fetch-pcre2-source.sh against stand-ins for apt-get, apt-cache and dpkg-query on
# PATH: each row the native revision, the revisions the source lists name, the ones whose
# download succeeds, and what the script must answer (the revision it unpacks, or a failure
# of one line that names the package and every revision tried).
set -u
script=$(cd "$(dirname "$0")/../.." && pwd)/scripts/fetch-pcre2-source.sh
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir -p "$dir/bin"
cat >"$dir/bin/dpkg-query" <<'STAND_IN'
#!/usr/bin/env bash
echo -n "$FAKE_NATIVE"
STAND_IN
cat >"$dir/bin/apt-cache" <<'STAND_IN'
#!/usr/bin/env bash
[[ $1 == showsrc ]] || exit 0
for v in $FAKE_LISTED; do printf 'Package: pcre2\nVersion: %s\n\n' "$v"; done
STAND_IN
# apt-get: update and install succeed; source succeeds only for the revisions in FAKE_OK,
# unpacking a tree with a CMakeLists.txt as dpkg-source would. Every source call is logged.
cat >"$dir/bin/apt-get" <<'STAND_IN'
#!/usr/bin/env bash
for a in "$@"; do
  case $a in
    update|install) exit 0 ;;
    pcre2=*)
      echo "${a#pcre2=}" >>"$FAKE_LOG"
      for ok in $FAKE_OK; do
        [[ ${a#pcre2=} == "$ok" ]] && { mkdir -p pcre2-10.42 && touch pcre2-10.42/CMakeLists.txt; exit 0; }
      done
      echo "E: Failed to fetch pcre2_${a#pcre2=}.dsc  404  Not Found" >&2
      exit 100 ;;
  esac
done
STAND_IN
# dpkg: the real one compares versions; dpkg-dev counts as installed.
cat >"$dir/bin/dpkg" <<'STAND_IN'
#!/usr/bin/env bash
[[ $1 == -s ]] && exit 0
exec /usr/bin/dpkg "$@"
STAND_IN
chmod +x "$dir"/bin/*

passed=0
failed=0
# row NAME NATIVE LISTED OK EXPECTED_STATUS EXPECTED_TRIED EXPECTED_OUTPUT_LINE
row() {
  local name=$1 status out tried
  rm -rf "$dir/target" "$dir/log"
  out=$(PATH="$dir/bin:$PATH" FAKE_NATIVE=$2 FAKE_LISTED=$3 FAKE_OK=$4 FAKE_LOG=$dir/log \
        QMV_PCRE2_TARGET=$dir/target QMV_FETCH_PAUSE=0 bash "$script" 2>&1)
  status=$?
  tried=$(xargs 2>/dev/null <"$dir/log")
  local problems=()
  [[ $status -eq $5 ]] || problems+=("status $status, expected $5")
  [[ $tried == "$6" ]] || problems+=("tried '$tried', expected '$6'")
  grep -qxF -- "$7" <<<"$out" || problems+=("no line '$7' in: $out")
  if [[ $5 -eq 0 ]]; then
    [[ $(cat "$dir/target/.debian-version" 2>/dev/null) == "${6##* }" ]] ||
      problems+=("kept revision '$(cat "$dir/target/.debian-version" 2>/dev/null)'")
  else
    [[ ! -e $dir/target ]] || problems+=("a target was left")
    [[ $(grep -c '^fetch-pcre2-source: step' <<<"$out") -eq 1 ]] || problems+=("not one failure line")
  fi
  if ((${#problems[@]})); then
    echo "FAIL: $name: ${problems[*]}"
    failed=$((failed + 1))
  else
    passed=$((passed + 1))
  fi
}
row "the native revision downloads" 10.42-1+deb12u2 "10.42-1 10.42-1+deb12u2" "10.42-1+deb12u2" \
  0 "10.42-1+deb12u2" "PCRE2 10.42-1+deb12u2 unpacked in $dir/target"
row "the security pool misses the native revision: the point release is used" \
  10.42-1+deb12u2 "10.42-1 10.42-1+deb12u2 10.40-1" "10.42-1 10.40-1" 0 "10.42-1+deb12u2 10.42-1" \
  "fetch-pcre2-source: source revision 10.42-1, native libpcre2-dev 10.42-1+deb12u2 (the same upstream release 10.42)"
row "other revisions newest first, another upstream release never" \
  10.42-1+deb12u2 "10.42-1 10.42-1+deb12u1 10.42-1+deb12u2 10.44-1" "10.42-1 10.42-1+deb12u1 10.44-1" \
  0 "10.42-1+deb12u2 10.42-1+deb12u1" "PCRE2 10.42-1+deb12u1 unpacked in $dir/target"
row "the native revision is not listed at all" 10.42-1+deb12u3 "10.42-1" "10.42-1" \
  0 "10.42-1" "PCRE2 10.42-1 unpacked in $dir/target"
row "no revision can be downloaded: one line, after one renewal of the lists" \
  10.42-1+deb12u2 "10.42-1 10.42-1+deb12u2" "" 1 \
  "10.42-1+deb12u2 10.42-1 10.42-1+deb12u2 10.42-1" \
  "fetch-pcre2-source: step 'apt-get source': no revision of pcre2 10.42 could be downloaded (tried 10.42-1 10.42-1+deb12u2)"
row "no revision of the release is listed" 10.42-1+deb12u2 "10.40-1" "10.40-1" 1 "" \
  "fetch-pcre2-source: step 'apt-get source': no source of pcre2 10.42 is listed (native libpcre2-dev 10.42-1+deb12u2)"
echo "$passed passed, $failed failed"
((failed == 0))
