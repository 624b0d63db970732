#!/usr/bin/env bash
# Builds VandrelQMV.dll with MinGW-w64, 64-bit and 32-bit, and tests both under Wine:
# registration with regsvr32 checked by reg query, the unit and COM tests, and the session
# scripts played through COM with the forms as windows.
# QMV_SCREENSHOT_OUT=docs/screenshots platform/windows/ci.sh also renews the pictures of the
# forms that the README shows (as PNG; needs imagemagick's convert).
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)

# wine32 runs the 32-bit programs: it comes from Debian's i386 architecture.
packages=(cmake make g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64-tools wine wine64 wine32:i386
          xvfb xauth googletest fonts-wine python3 unicode-data)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

build64=${QMV_WIN64_BUILD:-$root/build-win-x64}
build32=${QMV_WIN32_BUILD:-$root/build-win-x86}
cmake --preset windows-x64 -B "$build64" >/dev/null
cmake --build "$build64" --target VandrelQMV test_platform_windows test_com_sessions -j2
cmake --preset windows-x86 -B "$build32" >/dev/null
cmake --build "$build32" --target VandrelQMV test_platform_windows test_com_sessions -j2

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

clsid='{5B78BF42-A4CC-419B-81A5-7C8E1EE643F1}'
passed=0
failed=0
check() {  # check NAME COMMAND...: one numbered check
  if "${@:2}" >/dev/null 2>&1; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $1"; fi
}
# The registry as the DLL of $bits bits sees it: a 32-bit DLL registered for the machine
# writes to the 32-bit view, where 32-bit Excel looks.
query() { "$wine64" reg query "$@" "/reg:$bits"; }
absent() { ! query "$@"; }
has_value() {  # has_value KEY NAME TEXT (an empty NAME is the default value)
  local value=(/ve)
  [[ -n $2 ]] && value=(/v "$2")
  query "$1" "${value[@]}" 2>/dev/null | tr -d '\r' | grep -qF -- "$3"
}

for bits in 64 32; do
  build=$build64
  [[ $bits == 32 ]] && build=$build32
  dll=$(winepath -w "$build/platform/windows/VandrelQMV.dll" 2>/dev/null)
  for scope in user machine; do
    if [[ $scope == user ]]; then
      root='HKCU\Software'; args=(/s); uargs=(/u /s)
    else
      root='HKLM\Software'; args=(/s /n /i:machine); uargs=(/u /s /n /i:machine)
    fi
    where="$bits-bit, $scope"
    addin="$root\\Microsoft\\Office\\Excel\\Addins\\Orvik.Connect"
    typelib="$root\\Classes\\TypeLib\\{E112FEC0-89B6-4778-9F38-486F95ECF72B}"
    check "regsvr32 ($where)" "$wine64" regsvr32 "${args[@]}" "$dll"
    check "class server path ($where)" has_value "$root\\Classes\\CLSID\\$clsid\\InprocServer32" "" "VandrelQMV.dll"
    check "threading model ($where)" has_value "$root\\Classes\\CLSID\\$clsid\\InprocServer32" ThreadingModel Apartment
    check "ProgID ($where)" has_value "$root\\Classes\\Orvik.Connect\\CLSID" "" "$clsid"
    check "friendly name ($where)" has_value "$addin" FriendlyName Orvik
    check "description ($where)" has_value "$addin" Description \
      "Vandrel QMV is a valuable addin to automate text removing task for Excel with quality and speed."
    check "load behaviour ($where)" has_value "$addin" LoadBehavior 0x3
    check "type library ($where)" query "$typelib\\1.0\\0\\win$bits"
    if [[ $bits == 32 && $scope == machine ]]; then
      # 64-bit Excel must not load a 32-bit add-in: its view holds no trace of it.
      check "not in the 64-bit view ($where)" bash -c '! "$0" reg query "$1" /reg:64' "$wine64" "$addin"
    fi
    check "regsvr32 /u ($where)" "$wine64" regsvr32 "${uargs[@]}" "$dll"
    check "class removed ($where)" absent "$root\\Classes\\CLSID\\$clsid"
    check "ProgID removed ($where)" absent "$root\\Classes\\Orvik.Connect"
    check "add-in key removed ($where)" absent "$addin"
    check "type library removed ($where)" absent "$typelib"
  done
done
echo "registry: $passed passed, $failed failed"

# The unit and COM tests of each build. Their windows need a display: the Wine server
# started by the registry checks has none, so each program gets a new server under Xvfb.
new_server() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}
wine32=$(command -v wine)
tests_status=0
sessions_status=0
shots=$(mktemp -d /tmp/qmv-shots.XXXXXX)
for bits in 64 32; do
  build=$build64 loader=$wine64 pictures=("QMV_SCREENSHOTS=Z:${shots//\//\\}")
  [[ $bits == 32 ]] && build=$build32 loader=$wine32 pictures=()
  echo "== $bits-bit"
  new_server
  set +e
  (cd "$build/platform/windows" && xvfb-run -a "$loader" test_platform_windows.exe 2>&1 | tr -d '\r')
  status=$?
  ((status == 0)) || tests_status=$status
  # The sessions through COM; the 64-bit ones take a picture of each form they show.
  new_server
  (cd "$build/platform/windows" &&
    env "${pictures[@]}" xvfb-run -a -s '-screen 0 1280x1024x24' \
      "$loader" test_com_sessions.exe 2>&1 | tr -d '\r')
  status=$?
  ((status == 0)) || sessions_status=$status
  set -e
done
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
