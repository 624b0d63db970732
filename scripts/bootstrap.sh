#!/usr/bin/env bash
# Everything the build and the tests fetch from the network, in one place and first: the
# Debian packages of each job, the i386 Wine loader, PCRE2's source package and the web
# add-in's npm packages. A piece that cannot be had stops here, in the first minutes, with
# one line naming it, rather than half an hour into the builds. Safe to run again: what is
# there already is not fetched twice.
#
# Usage: scripts/bootstrap.sh [JOB...]
#   native   the native build, its tests and the demo (the default)
#   windows  the add-in DLL, its installers and their runs under Wine
#   web      the web add-in: emscripten, Chromium, Node.js and web/'s npm packages
#   all      all three (scripts/test.sh)
# The jobs' own scripts (platform/windows/ci.sh, web/ci.sh) call it for their job, so each
# package is named in this file alone.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

native=(build-essential cmake git libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
        clang libclang-rt-14-dev clang-tidy clang-format python3
        pkg-config libzip-dev libdeflate-dev libexpat1-dev libxlsxwriter-dev python3-openpyxl
        unicode-data python3-xlsxwriter libreoffice-calc-nogui gnumeric
        # PCRE2's 16-bit library, the pattern removal's matcher.
        libpcre2-dev
        # qmv's manual page is generated with help2man; its completion goes where
        # bash-completion looks.
        help2man bash-completion
        # The web engine's once-only requests and the recipes are JSON (header-only).
        nlohmann-json3-dev
        # Judges: the broken-encoding repair over real words in five languages.
        wfrench wngerman wspanish wportuguese witalian
        # A recipe's schema checked by a validator of its own.
        python3-jsonschema
        # A test traces which functions `qmv apply` runs, with callgrind.
        valgrind
        # The Sentence case judge asks LibreOffice's own transliteration over UNO.
        python3-uno)
windows=(cmake make g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64-tools wine wine64 xvfb
         xauth googletest fonts-wine wixl msitools osslsigncode openssl python3 unicode-data
         # dpkg-source unpacks PCRE2's source package and applies Debian's patches.
         dpkg-dev
         # Recipes are read with nlohmann's JSON headers in the DLL too.
         nlohmann-json3-dev)
web=(emscripten chromium nlohmann-json3-dev python3 openssl dpkg-dev)

jobs=("$@")
((${#jobs[@]})) || jobs=(native)
[[ " ${jobs[*]} " == *" all "* ]] && jobs=(native windows web)

fail() { echo "bootstrap: $*" >&2; exit 1; }
packages=()
for job in "${jobs[@]}"; do
  case $job in
    native) packages+=("${native[@]}") ;;
    windows) packages+=("${windows[@]}") ;;
    web)
      packages+=("${web[@]}")
      # Node.js and npm: Debian's, unless the machine has a Node.js of its own (whose npm
      # comes with it).
      command -v npm >/dev/null || packages+=(nodejs npm) ;;
    *) fail "unknown job '$job' (native, windows, web or all)" ;;
  esac
done
"$root/scripts/install-packages.sh" "${packages[@]}"

for job in "${jobs[@]}"; do
  case $job in
    windows)
      # wine32 runs the 32-bit programs: it comes from Debian's i386 architecture, whose
      # package lists a mirror may not serve whole while it syncs (install-packages.sh then
      # takes the i386 packages from the suites whose lists it has). Without it the 32-bit
      # runs are left out and named in the test command's closing lines
      # (QMV_REQUIRE_32BIT=1 makes that a failure there).
      "$root/scripts/install-packages.sh" wine32:i386 ||
        echo "NOTE: wine32:i386 could not be installed from the package lists there are"
      ;;&
    windows | web)
      # PCRE2, compiled into the DLL and the WebAssembly engine from Debian's source package.
      "$root/scripts/fetch-pcre2-source.sh"
      ;;&
    web)
      # web/package-lock.json pins every npm package; a dropped download is tried again.
      if [[ ! -d web/node_modules || web/package-lock.json -nt web/node_modules ]]; then
        for attempt in 1 2 3; do
          (cd web && npm ci --no-audit --no-fund --loglevel=error) && break
          [ "$attempt" -lt 3 ] ||
            fail "step 'npm ci': web/package-lock.json's packages could not be installed"
          sleep $((attempt * 15))
        done
        touch web/node_modules
      fi
      ;;
  esac
done
