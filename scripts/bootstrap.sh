#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need. Safe to run again.
set -euo pipefail
packages=(build-essential cmake git libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
          clang libclang-rt-14-dev clang-tidy clang-format python3
          pkg-config libzip-dev libdeflate-dev libexpat1-dev libxlsxwriter-dev python3-openpyxl unicode-data
          python3-xlsxwriter libreoffice-calc-nogui gnumeric)
# PCRE2's 16-bit library, the pattern removal's matcher (the MinGW builds compile the same
# release from Debian's source package: scripts/fetch-pcre2-source.sh).
packages+=(libpcre2-dev)
# The manual page of qmv is generated with help2man; its completion goes where bash-completion looks.
packages+=(help2man bash-completion)
# The web add-in's engine reads and writes its page's requests as JSON (header-only).
packages+=(nlohmann-json3-dev)
# A test traces which functions `qmv apply` runs, with callgrind.
packages+=(valgrind)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
