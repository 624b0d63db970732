#!/usr/bin/env bash
# Installs the named Debian packages that are missing, with apt-get (through sudo when not
# run as root). A name ending in :i386 adds Debian's i386 architecture first.
# Usage: scripts/install-packages.sh PACKAGE...
#
# A mirror in the middle of a sync may serve one architecture's package list of one suite
# with the wrong size (seen for the i386 list of bookworm-security for days). apt then
# leaves that list out, and an i386 package whose amd64 twin is installed at that suite's
# version cannot be installed: a Multi-Arch: same pair must have one version. When the
# install fails that way, it is tried once more with the suites that lack a list preferred
# below the ones that have it, for this command only: the amd64 twins are then moved to
# the version the other suites give both architectures (a security update may so go back
# to the point release's version; a note says which suites were passed over).
set -euo pipefail
missing=()
for p in "$@"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
((${#missing[@]})) || exit 0
export DEBIAN_FRONTEND=noninteractive
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
foreign=no
if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
  foreign=yes
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
# One line for a failed install: the packages still missing, those the lists do not offer
# marked, so that a run stops naming what it lacks rather than with apt's pages.
report() {
  local p names=()
  for p in "${missing[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 && continue
    if apt-cache policy "$p" 2>/dev/null | grep -q 'Candidate: [^(]'; then names+=("$p")
    else names+=("$p (not in the package lists)"); fi
  done
  echo "install-packages: step 'apt-get install' failed for: ${names[*]}" >&2
}
install_log=$(mktemp)
trap 'rm -f "$install_log"' EXIT
# A download a mirror drops is tried again once, after the lists are renewed.
for attempt in 1 2; do
  "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}" >"$install_log" 2>&1 && exit 0
  [[ $attempt -eq 2 || $foreign == yes ]] && break
  "${apt[@]}" update -qq >/dev/null 2>&1 || true
done
if [[ $foreign != yes ]]; then
  { grep "^E:" "$install_log" || true; } | tail -n 2 >&2
  report
  exit 1
fi

# The suites (by codename) that have a package list for amd64 but none for i386.
lists() {  # lists ARCH: the codenames with a package list for ARCH
  apt-get indextargets --format '$(ARCHITECTURE) $(CODENAME)' 'Created-By: Packages' |
    awk -v arch="$1" '$1 == arch {print $2}' | sort -u
}
broken=$(comm -23 <(lists amd64) <(lists i386))
[[ -n $broken ]] || { { grep "^E:" "$install_log" || true; } | tail -n 2 >&2; report; exit 1; }
echo "install-packages: no i386 package list for $(echo $broken); installing the i386 packages" \
  "with the amd64 ones at the versions the other suites give both" >&2
prefs=$(mktemp -d)
trap 'rm -rf "$prefs" "$install_log"' EXIT
cp /etc/apt/preferences.d/* "$prefs/" 2>/dev/null || true
{
  for codename in $broken; do
    printf 'Package: *\nPin: release n=%s\nPin-Priority: 100\n\n' "$codename"
  done
  # 1001 lets apt move an amd64 twin back to the version the whole suites give.
  for codename in $(comm -12 <(lists amd64) <(lists i386)); do
    printf 'Package: *\nPin: release n=%s\nPin-Priority: 1001\n\n' "$codename"
  done
} >"$prefs/zz-qmv-i386-fallback.pref"
chmod -R a+r "$prefs"
apt+=(-o "Dir::Etc::PreferencesParts=$prefs")
# Nothing may be removed to make room: a plan that removes a package is not carried out.
plan=$("${apt[@]}" install -s --no-install-recommends "${missing[@]}" 2>&1) || true
if grep -q '^Remv ' <<<"$plan"; then
  echo "install-packages: installing them would remove packages; not done" >&2
  report
  exit 1
fi
"${apt[@]}" install -y -qq --no-install-recommends --allow-downgrades "${missing[@]}" >/dev/null ||
  { report; exit 1; }
