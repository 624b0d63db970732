#!/usr/bin/env bash
# Installs the named Debian packages that are missing, with apt-get (through sudo when not
# run as root). A name ending in :i386 adds Debian's i386 architecture first.
# Usage: scripts/install-packages.sh PACKAGE...
set -euo pipefail
missing=()
for p in "$@"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
((${#missing[@]})) || exit 0
export DEBIAN_FRONTEND=noninteractive
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
  dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
fi
# A new machine may still be running its own apt at boot, and a mirror may drop a request:
# wait for the lock and retry downloads rather than fail.
apt=($sudo apt-get -o DPkg::Lock::Timeout=600 -o Acquire::Retries=3)
# A mirror in the middle of a sync serves index files of the wrong size for a while: try
# again after a pause, and in the end install from the lists there are (a package they
# lack then fails the install, with apt's own message).
for attempt in 1 2 3 4; do
  "${apt[@]}" update -qq && break
  [ "$attempt" -lt 4 ] || { echo "install-packages: the package lists did not all update; installing from what there is" >&2; break; }
  sleep $((attempt * 20))
done
"${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
