#!/usr/bin/env bash
# Builds VandrelQMV.dll for 64-bit and 32-bit Excel, signs both, and packages each in a
# signed per-user Windows Installer package in dist/:
#   dist/VandrelQMV-<version>-x64.msi   dist/VandrelQMV-<version>-x86.msi
# The version is the project's (CMakeLists.txt). Signing uses the publisher's certificate
# when QMV_SIGN_CERT (PEM certificate chain) and QMV_SIGN_KEY (PEM private key) name one;
# otherwise a self-signed test certificate is made with openssl for this run (its
# certificate is left in dist/test-signing-cert.pem so that CI can verify against it).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

"$root/scripts/bootstrap.sh" windows

build64=${QMV_WIN64_BUILD:-$root/build-win-x64}
build32=${QMV_WIN32_BUILD:-$root/build-win-x86}
cmake --preset windows-x64 -B "$build64" >/dev/null
cmake --build "$build64" --target VandrelQMV qmv_registry_wxi -j2
cmake --preset windows-x86 -B "$build32" >/dev/null
cmake --build "$build32" --target VandrelQMV -j2
version=$(tr -d '[:space:]' <"$build64/platform/windows/version.txt")

dist=$root/dist
mkdir -p "$dist"
work=$(mktemp -d /tmp/qmv-package.XXXXXX)
export WINEPREFIX=${WINEPREFIX:-$work/wine}
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine64=$(command -v wine64 || { [[ -x /usr/lib/wine/wine64 ]] && echo /usr/lib/wine/wine64; } ||
         command -v wine)
# One server for this script's Wine programs: Debian's leaves as each program ends, and the
# next program could meet it on its way out.
mkdir -p "$WINEPREFIX"
wineserver -p 2>/dev/null || true  # (one may be up already)

# The signing certificate.
if [[ -n ${QMV_SIGN_CERT:-} && -n ${QMV_SIGN_KEY:-} ]]; then
  cert=$QMV_SIGN_CERT key=$QMV_SIGN_KEY ca=${QMV_SIGN_CA:-}
else
  cert=$work/test-cert.pem key=$work/test-key.pem
  openssl req -x509 -newkey rsa:3072 -nodes -days 30 -keyout "$key" -out "$cert" \
    -subj "/CN=Vandrel QMV Test Signing/O=Vandrel" \
    -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
    2>/dev/null
  cp "$cert" "$dist/test-signing-cert.pem"
  ca=$cert
fi
sign() {  # sign FILE: signs in place and verifies the signature
  osslsigncode sign -certs "$cert" -key "$key" -h sha256 -n "Vandrel QMV" \
    -i "https://vandrel.example/qmv" -in "$1" -out "$1.signed" >/dev/null
  mv "$1.signed" "$1"
  if [[ -n $ca ]]; then
    osslsigncode verify -CAfile "$ca" -in "$1" >/dev/null
  else
    osslsigncode verify -in "$1" >/dev/null
  fi
  echo "signed and verified: ${1##*/}"
}

for arch in x64 x86; do
  build=$build64
  [[ $arch == x86 ]] && build=$build32
  stage=$work/$arch
  mkdir -p "$stage"
  cp "$build/platform/windows/VandrelQMV.dll" "$root/platform/windows/installer/VandrelQMV.wxs" \
    "$stage/"
  sign "$stage/VandrelQMV.dll"
  # The registry entries come from the DLL's own registration table.
  "$wine64" "$build64/platform/windows/qmv_registry_wxi.exe" "$arch" \
    "Z:${stage//\//\\}\\registry.wxi"
  msi=$dist/VandrelQMV-$version-$arch.msi
  rm -f "$msi"
  (cd "$stage" && wixl -a "$arch" -D Arch="$arch" -D Version="$version" -D Dll=VandrelQMV.dll \
    -o "$msi" VandrelQMV.wxs)
  # wixl writes the root HKMU as 4; Windows Installer's value for it is -1.
  msibuild "$msi" -q 'UPDATE `Registry` SET `Root` = -1 WHERE `Root` = 4'
  # Excel's add-in key is shared by both bitnesses per user, and per view per machine: one
  # component for each case (see installer_registry.hpp), which wixl writes unconditioned.
  msibuild "$msi" -q 'UPDATE `Component` SET `Condition` = '"'NOT ALLUSERS'"' WHERE `Component` = '"'AddInKeyPerUser'"''
  msibuild "$msi" -q 'UPDATE `Component` SET `Condition` = '"'ALLUSERS'"' WHERE `Component` = '"'AddInKeyPerMachine'"''
  sign "$msi"
done
ls -l "$dist"
