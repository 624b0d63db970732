#!/usr/bin/env bash
# Unpacks Debian's source package of PCRE2 into external/pcre2 (ignored by git), for the
# MinGW builds of the DLL and the WebAssembly engine, which compile its 16-bit library from
# source: the upstream release of the native build's libpcre2-dev (installed, or else the
# one the package lists offer), with Debian's patches applied, so that every build matches
# patterns alike.
#
# Which revision: the native library's own first, then every other Debian revision of the
# same upstream release that `apt-cache showsrc pcre2` lists, newest first. A mirror may list
# a revision whose files its pool does not serve (seen for a security update's .dsc), and
# apt checks every file it does fetch against the .dsc's checksums, so any listed revision
# of the release is as good as another for the upstream code. The revision used is printed
# and kept in external/pcre2/.debian-version; one line says so when it is not the native
# library's. Only when no revision of the release can be had does the script fail, with
# one line naming the package, the revisions tried and the step.
#
# Adds a deb-src entry for the mirror of /etc/apt/sources.list.d/debian.sources when no
# source of the release is listed. Safe to run again: an unpacked tree of the same upstream
# release is kept.
# Usage: scripts/fetch-pcre2-source.sh
# QMV_PCRE2_TARGET sets another folder to unpack into (the script's own test uses it).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
target=${QMV_PCRE2_TARGET:-$root/external/pcre2}

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
apt=($sudo apt-get -o DPkg::Lock::Timeout=600 -o Acquire::Retries=3)
fail() { echo "fetch-pcre2-source: $*" >&2; exit 1; }

native=$(dpkg-query -W -f='${source:Version}' libpcre2-dev 2>/dev/null || true)
if [[ -z $native ]]; then
  native=$(apt-cache policy libpcre2-dev 2>/dev/null | awk '/Candidate:/ {print $2}')
fi
[[ -n $native && $native != "(none)" ]] ||
  fail "step 'native release': no release of libpcre2-dev installed or in the package lists"
# The upstream release: the version without its epoch and its Debian revision.
upstream_of() { local v=${1#*:}; echo "${v%-*}"; }
upstream=$(upstream_of "$native")

if [[ -f $target/.debian-version && -f $target/CMakeLists.txt ]] &&
   [[ $(upstream_of "$(cat "$target/.debian-version")") == "$upstream" ]]; then
  exit 0
fi

# The listed revisions of the upstream release, the native one first, then newest first.
revisions() {
  local listed v
  listed=$(apt-cache showsrc pcre2 2>/dev/null | awk '/^Version:/ {print $2}' | sort -u)
  local same=()
  for v in $listed; do
    [[ $(upstream_of "$v") == "$upstream" && $v != "$native" ]] && same+=("$v")
  done
  # Newest first by Debian's own ordering (an insertion sort: the list has a few entries).
  local sorted=() i
  for v in "${same[@]}"; do
    for ((i = ${#sorted[@]}; i > 0; i--)); do
      dpkg --compare-versions "${sorted[i - 1]}" ge "$v" && break
      sorted[i]=${sorted[i - 1]}
    done
    sorted[i]=$v
  done
  if grep -qx "$native" <<<"$listed"; then echo "$native"; fi
  ((${#sorted[@]} == 0)) || printf '%s\n' "${sorted[@]}"
}

# dpkg-source (package dpkg-dev) unpacks the source and applies Debian's patches.
"$root/scripts/install-packages.sh" dpkg-dev ||
  fail "step 'install dpkg-dev': the package dpkg-dev could not be installed"

# A source entry beside the binary ones of the same mirror: deb822 stanzas with "Types:
# deb-src" (Debian 12's form), or a deb-src line in the one-line form.
has_sources() {
  grep -Eqs '^[[:space:]]*Types:.*deb-src' /etc/apt/sources.list.d/*.sources ||
    grep -Eqs '^[[:space:]]*deb-src[[:space:]]' /etc/apt/sources.list /etc/apt/sources.list.d/*.list
}
if [[ -z $(revisions) ]] && ! has_sources; then
  if [[ -f /etc/apt/sources.list.d/debian.sources ]]; then
    sed -E 's/^Types:[[:space:]]*deb[[:space:]]*$/Types: deb-src/' \
      /etc/apt/sources.list.d/debian.sources |
      $sudo tee /etc/apt/sources.list.d/qmv-deb-src.sources >/dev/null
  else
    grep -E '^[[:space:]]*deb[[:space:]]' /etc/apt/sources.list | sed -E 's/^([[:space:]]*)deb /\1deb-src /' |
      $sudo tee /etc/apt/sources.list.d/qmv-deb-src.list >/dev/null
  fi
fi
# A mirror in the middle of a sync can fail an update, often in a list this needs not (one
# architecture's binary list): only the source list matters, so try again after a pause
# only while no revision of the release is listed.
updated=no
update_lists() {
  local attempt
  for attempt in 1 2 3 4; do
    "${apt[@]}" update -qq >/dev/null 2>&1 || true
    updated=yes
    [[ -n $(revisions) || $attempt -eq 4 ]] && break
    sleep $((attempt * ${QMV_FETCH_PAUSE:-20}))
  done
}
[[ -n $(revisions) ]] || update_lists

work=$(mktemp -d /tmp/qmv-pcre2.XXXXXX)
trap 'rm -rf "$work"' EXIT
used=""
tried=()
# Each listed revision in turn; lists that were not renewed in this run may name revisions
# the pool has since dropped, so one renewal and one more round follow a round that failed.
for round in 1 2; do
  mapfile -t candidates < <(revisions)
  for revision in "${candidates[@]}"; do
    tried+=("$revision")
    rm -rf "${work:?}"/*
    if (cd "$work" && apt-get -o Acquire::Retries=3 source -qq "pcre2=$revision" >/dev/null 2>&1); then
      unpacked=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'pcre2-*' | head -n 1)
      if [[ -n $unpacked && -f $unpacked/CMakeLists.txt ]]; then
        used=$revision
        break 2
      fi
    fi
    echo "fetch-pcre2-source: pcre2 $revision could not be downloaded" >&2
  done
  [[ $updated == no ]] || break
  update_lists
done
((${#tried[@]})) ||
  fail "step 'apt-get source': no source of pcre2 $upstream is listed (native libpcre2-dev $native)"
[[ -n $used ]] ||
  fail "step 'apt-get source': no revision of pcre2 $upstream could be downloaded (tried $(printf '%s\n' "${tried[@]}" | sort -u | xargs))"

rm -rf "$target"
mkdir -p "$(dirname "$target")"
mv "$unpacked" "$target"
echo "$used" >"$target/.debian-version"
echo "PCRE2 $used unpacked in ${target#"$root"/}"
if [[ $used != "$native" ]]; then
  echo "fetch-pcre2-source: source revision $used, native libpcre2-dev $native (the same upstream release $upstream)"
fi
