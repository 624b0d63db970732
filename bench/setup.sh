# The set-up the benchmark scripts share; each sources it after `set -euo pipefail`:
#   . "$(dirname "$0")/setup.sh"
#   bench_setup NAME QMV
# bench_setup moves to the top of the tree, stops with status 2 and a hint when QMV (a
# path from the top) is not built, and leaves in $work a fresh temporary folder that goes
# when the script ends.
#   bench_need_package NAME PACKAGE CHECK...
# installs the Debian PACKAGE (through sudo when not root) when the command CHECK fails.

bench_setup() {
  local name=$1 qmv=$2
  cd "$(dirname "${BASH_SOURCE[0]}")/.."
  if [ ! -x "$qmv" ]; then
    echo "$name: $qmv is not built (cmake --preset default && cmake --build --preset default --target qmv)" >&2
    exit 2
  fi
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
}

bench_need_package() {
  local name=$1 package=$2
  shift 2
  if "$@" >/dev/null 2>&1; then
    return 0
  fi
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  echo "$name: installing $package" >&2
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "$package" >/dev/null
}
