#!/usr/bin/env bash
# Unpacks Debian's source package of PCRE2 into external/pcre2 (ignored by git), for the
# MinGW builds of the DLL, which compile its 16-bit library from source: the release is the
# one of the native build's libpcre2-dev (installed, or else the one the package lists
# offer), with Debian's patches applied, so that every build matches patterns alike.
# Adds a deb-src entry for the mirror of /etc/apt/sources.list.d/debian.sources when no
# source entry is configured. Safe to run again: an unpacked release that matches is kept.
# Usage: scripts/fetch-pcre2-source.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
target=$root/external/pcre2

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
apt=($sudo apt-get -o DPkg::Lock::Timeout=600 -o Acquire::Retries=3)

version=$(dpkg-query -W -f='${source:Version}' libpcre2-dev 2>/dev/null || true)
if [[ -z $version ]]; then
  version=$(apt-cache policy libpcre2-dev | awk '/Candidate:/ {print $2}')
fi
if [[ -z $version || $version == "(none)" ]]; then
  echo "fetch-pcre2-source: no release of libpcre2-dev in the package lists" >&2
  exit 1
fi
if [[ -f $target/.debian-version && $(cat "$target/.debian-version") == "$version" &&
      -f $target/CMakeLists.txt ]]; then
  exit 0
fi

# dpkg-source (package dpkg-dev) unpacks the source and applies Debian's patches.
"$root/scripts/install-packages.sh" dpkg-dev

# A source entry beside the binary ones of the same mirror: deb822 stanzas with "Types:
# deb-src" (Debian 12's form), or a deb-src line in the one-line form.
has_sources() {
  grep -Eqs '^[[:space:]]*Types:.*deb-src' /etc/apt/sources.list.d/*.sources ||
    grep -Eqs '^[[:space:]]*deb-src[[:space:]]' /etc/apt/sources.list /etc/apt/sources.list.d/*.list
}
if ! has_sources; then
  if [[ -f /etc/apt/sources.list.d/debian.sources ]]; then
    sed -E 's/^Types:[[:space:]]*deb[[:space:]]*$/Types: deb-src/' \
      /etc/apt/sources.list.d/debian.sources |
      $sudo tee /etc/apt/sources.list.d/qmv-deb-src.sources >/dev/null
  else
    grep -E '^[[:space:]]*deb[[:space:]]' /etc/apt/sources.list | sed -E 's/^([[:space:]]*)deb /\1deb-src /' |
      $sudo tee /etc/apt/sources.list.d/qmv-deb-src.list >/dev/null
  fi
fi
listed() { apt-cache showsrc pcre2 2>/dev/null | grep -qx "Version: $version"; }
# A mirror in the middle of a sync can fail an update, often in a list this needs not (one
# architecture's binary list): only the source list of the release matters, so try again
# after a pause only while it is missing.
for attempt in 1 2 3 4; do
  listed && break
  "${apt[@]}" update -qq || true
  listed && break
  [ "$attempt" -lt 4 ] || { echo "fetch-pcre2-source: no source of pcre2 $version listed" >&2; break; }
  sleep $((attempt * 20))
done

work=$(mktemp -d /tmp/qmv-pcre2.XXXXXX)
trap 'rm -rf "$work"' EXIT
(cd "$work" && apt-get -o Acquire::Retries=3 source -qq "pcre2=$version" >/dev/null)
unpacked=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'pcre2-*' | head -n 1)
if [[ -z $unpacked || ! -f $unpacked/CMakeLists.txt ]]; then
  echo "fetch-pcre2-source: apt-get source pcre2=$version gave no source tree" >&2
  exit 1
fi
rm -rf "$target"
mkdir -p "$root/external"
mv "$unpacked" "$target"
echo "$version" >"$target/.debian-version"
echo "PCRE2 $version unpacked in external/pcre2"
