#!/usr/bin/env bash
# Builds VandrelQMV.dll with MinGW-w64 and tests it under Wine: registration with
# regsvr32 checked by reg query, the unit and COM tests, the session scripts played
# through COM with the forms as windows, and the 32-bit build.
# QMV_SCREENSHOT_OUT=docs/screenshots platform/windows/ci.sh also renews the pictures of the
# forms that the README shows (as PNG; needs imagemagick's convert).
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)

packages=(cmake make g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64-tools wine wine64 xvfb xauth
          googletest fonts-wine)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

build64=${QMV_WIN64_BUILD:-$root/build-win-x64}
build32=${QMV_WIN32_BUILD:-$root/build-win-x86}
cmake --preset windows-x64 -B "$build64" >/dev/null
cmake --build "$build64" --target VandrelQMV test_platform_windows test_com_sessions -j2
cmake --preset windows-x86 -B "$build32" >/dev/null
cmake --build "$build32" --target VandrelQMV -j2

# Only Windows system DLLs may be imported.
for dll in "$build64/platform/windows/VandrelQMV.dll" "$build32/platform/windows/VandrelQMV.dll"; do
  objdump=x86_64-w64-mingw32-objdump
  [[ $dll == "$build32"* ]] && objdump=i686-w64-mingw32-objdump
  imports=$($objdump -p "$dll" | awk '/DLL Name:/ {print tolower($3)}')
  for name in $imports; do
    case $name in
      advapi32.dll|comctl32.dll|gdi32.dll|kernel32.dll|msvcrt.dll|ole32.dll|oleaut32.dll|shell32.dll|user32.dll) ;;
      *) echo "FAIL: $dll imports $name"; exit 1 ;;
    esac
  done
done
echo "imports: system DLLs only"

export WINEPREFIX=${WINEPREFIX:-$(mktemp -d /tmp/qmv-wine.XXXXXX)}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine64=$(command -v wine64 || command -v wine)
wineboot_done=$WINEPREFIX/.qmv-ready
if [[ ! -f $wineboot_done ]]; then
  "$wine64" wineboot --init >/dev/null 2>&1 || true
  # Windows that Wine frames itself: without a window manager under Xvfb, a managed window
  # waits two seconds for every hide, and shows no caption.
  "$wine64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
  touch "$wineboot_done"
fi

dll=$(winepath -w "$build64/platform/windows/VandrelQMV.dll" 2>/dev/null)
clsid='{5B78BF42-A4CC-419B-81A5-7C8E1EE643F1}'
passed=0
failed=0
check() {  # check NAME COMMAND...: one numbered check
  if "${@:2}" >/dev/null 2>&1; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $1"; fi
}
query() { "$wine64" reg query "$@"; }
absent() { ! "$wine64" reg query "$@"; }
has_value() {  # has_value KEY NAME TEXT (an empty NAME is the default value)
  local value=(/ve)
  [[ -n $2 ]] && value=(/v "$2")
  "$wine64" reg query "$1" "${value[@]}" 2>/dev/null | tr -d '\r' | grep -qF -- "$3"
}

for scope in user machine; do
  if [[ $scope == user ]]; then
    root='HKCU\Software'; args=(/s); uargs=(/u /s)
  else
    root='HKLM\Software'; args=(/s /n /i:machine); uargs=(/u /s /n /i:machine)
  fi
  check "regsvr32 ($scope)" "$wine64" regsvr32 "${args[@]}" "$dll"
  check "class server path ($scope)" has_value "$root\\Classes\\CLSID\\$clsid\\InprocServer32" "" "VandrelQMV.dll"
  check "threading model ($scope)" has_value "$root\\Classes\\CLSID\\$clsid\\InprocServer32" ThreadingModel Apartment
  check "ProgID ($scope)" has_value "$root\\Classes\\Orvik.Connect\\CLSID" "" "$clsid"
  check "friendly name ($scope)" has_value "$root\\Microsoft\\Office\\Excel\\Addins\\Orvik.Connect" FriendlyName Orvik
  check "description ($scope)" has_value "$root\\Microsoft\\Office\\Excel\\Addins\\Orvik.Connect" Description \
    "Vandrel QMV is a valuable addin to automate text removing task for Excel with quality and speed."
  check "load behaviour ($scope)" has_value "$root\\Microsoft\\Office\\Excel\\Addins\\Orvik.Connect" LoadBehavior 0x3
  check "type library ($scope)" query "$root\\Classes\\TypeLib\\{E112FEC0-89B6-4778-9F38-486F95ECF72B}\\1.0\\0\\win64"
  check "regsvr32 /u ($scope)" "$wine64" regsvr32 "${uargs[@]}" "$dll"
  check "class removed ($scope)" absent "$root\\Classes\\CLSID\\$clsid"
  check "ProgID removed ($scope)" absent "$root\\Classes\\Orvik.Connect"
  check "add-in key removed ($scope)" absent "$root\\Microsoft\\Office\\Excel\\Addins\\Orvik.Connect"
  check "type library removed ($scope)" absent "$root\\Classes\\TypeLib\\{E112FEC0-89B6-4778-9F38-486F95ECF72B}"
done
echo "registry: $passed passed, $failed failed"

# The unit and COM tests. Their windows need a display: the Wine server started by the
# registry checks has none, so a new one starts under Xvfb.
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
set +e
(cd "$build64/platform/windows" && xvfb-run -a "$wine64" test_platform_windows.exe 2>&1 | tr -d '\r')
tests_status=${PIPESTATUS[0]}
# The sessions through COM, with a picture of each form they show; again a new Wine
# server for the new display.
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
shots=$(mktemp -d /tmp/qmv-shots.XXXXXX)
(cd "$build64/platform/windows" &&
  QMV_SCREENSHOTS="Z:${shots//\//\\}" xvfb-run -a -s '-screen 0 1280x1024x24' \
    "$wine64" test_com_sessions.exe 2>&1 | tr -d '\r')
sessions_status=${PIPESTATUS[0]}
set -e
for form in frmPrgBar frmTextRemover frmUG; do
  if [[ ! -s $shots/$form.bmp ]]; then echo "FAIL: no picture of $form"; sessions_status=1; fi
done
if [[ -n ${QMV_SCREENSHOT_OUT:-} ]] && command -v convert >/dev/null; then
  mkdir -p "$QMV_SCREENSHOT_OUT"
  for form in frmPrgBar frmTextRemover frmUG; do
    convert "$shots/$form.bmp" "$QMV_SCREENSHOT_OUT/$form.png"
  done
fi
rm -rf "$shots"
# Stop this prefix's Wine server.
wineserver -k 2>/dev/null || true
if ((failed > 0 || tests_status != 0 || sessions_status != 0)); then exit 1; fi
