#!/usr/bin/env bash
# Builds VandrelQMV.dll with MinGW-w64, 64-bit and 32-bit, and tests both under Wine:
# registration with regsvr32 checked by reg query, the unit and COM tests, and the session
# scripts played through COM with the forms as windows.
# QMV_SCREENSHOT_OUT=docs/screenshots platform/windows/ci.sh also renews the pictures of the
# forms that the README shows (as PNG; needs imagemagick's convert).
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
repo=$root  # (the registry checks reuse $root for a registry path)

# Its packages, the i386 Wine loader (tolerated: the 32-bit runs are then left out and named)
# and PCRE2's source, compiled into the DLL.
"$root/scripts/bootstrap.sh" windows
have_wine32=yes
dpkg -s wine32:i386 >/dev/null 2>&1 || have_wine32=no

build64=${QMV_WIN64_BUILD:-$root/build-win-x64}
build32=${QMV_WIN32_BUILD:-$root/build-win-x86}
cmake --preset windows-x64 -B "$build64" >/dev/null
cmake --build "$build64" --target VandrelQMV test_platform_windows test_com_sessions \
  installed_addin_check -j2
cmake --preset windows-x86 -B "$build32" >/dev/null
cmake --build "$build32" --target VandrelQMV test_platform_windows test_com_sessions \
  installed_addin_check -j2

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

# A Linux path as Wine's Z: drive names it (winepath itself needs Wine's 32-bit loader).
winpath() { printf 'Z:%s' "${1//\//\\}"; }
wine32=$(command -v wine)

# A throwaway prefix (over a gigabyte) goes when the script ends; one given is kept.
own_prefix=no
if [[ -z ${WINEPREFIX:-} ]]; then
  WINEPREFIX=$(mktemp -d /tmp/qmv-wine.XXXXXX) own_prefix=yes
fi
export WINEPREFIX
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine64=$(command -v wine64 || { [[ -x /usr/lib/wine/wine64 ]] && echo /usr/lib/wine/wine64; } ||
         command -v wine)
wineboot_done=$WINEPREFIX/.qmv-ready
if [[ ! -f $wineboot_done ]]; then
  "$wine64" wineboot --init >/dev/null 2>&1 || true
  # Windows that Wine frames itself: without a window manager under Xvfb, a managed window
  # waits two seconds for every hide, and shows no caption.
  "$wine64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
  touch "$wineboot_done"
fi
# Wine's own Tahoma (fonts-wine), the forms' font: Wine maps the name to it only when the
# file is in the prefix's Fonts folder; otherwise the forms are drawn and measured in a far
# wider face (DejaVu Sans), and neither the pictures nor the text-fit test show Tahoma.
mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
cp /usr/share/wine/fonts/tahoma.ttf /usr/share/wine/fonts/tahomabd.ttf \
  "$WINEPREFIX/drive_c/windows/Fonts/"

# A Wine server that stays up between commands. Started by a program, the server leaves as
# soon as that program ends, and a command started in that moment can meet it on its way
# out and fail; a run of a few hundred short commands (the registry read-backs) must not.
new_server() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}
lasting_server() {
  new_server
  wineserver -p || true  # (without it, each command brings its own)
}
check_log=$(mktemp /tmp/qmv-check.XXXXXX)
# A lasting server must not outlive this script, whichever way it ends, nor a throwaway prefix.
cleanup() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  rm -f "$check_log" "$check_log.query"
  if [[ $own_prefix == yes ]]; then rm -rf "$WINEPREFIX"; fi
}
trap cleanup EXIT
lasting_server

# A mirror that failed the i386 lists at the start may have finished its sync by now.
if [[ $have_wine32 == no ]]; then
  echo "NOTE: trying wine32:i386 again after the builds"
  "$root/scripts/install-packages.sh" wine32:i386 || echo "NOTE: wine32:i386 still cannot be installed"
fi
# Without wine32, or on a kernel without 32-bit support, the 32-bit programs are skipped and
# reported, unless QMV_REQUIRE_32BIT=1 makes that a failure. The probe runs a 32-bit program
# of this build and reads its test list (run32_probe.sh says why not the exit status).
source "$root/platform/windows/run32_probe.sh"
run32=no
can_run32 "$wine32" "$build32/platform/windows/test_platform_windows.exe" && run32=yes
echo "32-bit programs run here: $run32"
skip32() {  # skip32 WHAT: a 32-bit run left out, in the log and in the caller's summary
  echo "SKIP: $1: this machine cannot run 32-bit programs"
  if [[ -n ${QMV_SKIP_NOTES:-} ]]; then echo "SKIP: $1 (no 32-bit programs here)" >>"$QMV_SKIP_NOTES"; fi
}
if [[ $run32 == no ]]; then
  skip32 "the 32-bit Wine runs"
  [[ ${QMV_REQUIRE_32BIT:-0} == 1 ]] && exit 1
fi

clsid='{5B78BF42-A4CC-419B-81A5-7C8E1EE643F1}'
passed=0
failed=0
# A check's command writes to a file, not a pipe: Wine's services, started by the command,
# keep what it was given open as long as the server lasts. A failed check shows the last
# lines its command wrote, so that a CI log says why.
passes() {  # passes NAME COMMAND...
  : >"$check_log.query"
  "${@:2}" >"$check_log" 2>&1 && return 0
  echo "FAIL: $1"
  echo "  \$ ${*:2}"
  tr -d '\r' <"$check_log" | tail -n 5 | sed 's/^/  | /'
  # A registry check names the query it ran (its output is often grepped away).
  if [[ -s $check_log.query ]]; then tr -d '\r' <"$check_log.query" | tail -n 8 | sed 's/^/  | /'; fi
  return 1
}
check() {  # check NAME COMMAND...: one numbered check
  if passes "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
}
# The registry as Excel of $bits bits sees it: read by a reg.exe of the same bitness, in its
# own view. A 32-bit registration for the machine writes its class and add-in keys to the
# 32-bit view, and its ProgID and type library to HKLM\Software\Classes, which both views
# share ("Registry Keys Affected by WOW64"); Wine's 64-bit reg /reg:32 looks for the shared
# keys under Wow6432Node, where no 32-bit program puts or reads them.
# reg answers a query itself, found or "Unable to find"; any other failure is Wine failing
# to start the program (rare, but a few hundred starts per run meet it), so it is tried again.
query() {
  local status attempt out=$check_log.query reg=("$wine64" reg query "$@" /reg:64)
  # (Without 32-bit programs, the nearest: the 64-bit reg in the 32-bit view.)
  [[ $bits == 32 ]] && reg=("$wine64" reg query "$@" /reg:32)
  [[ $bits == 32 && $run32 == yes ]] && reg=("$wine32" reg query "$@")
  for attempt in 1 2 3; do
    status=0
    { echo "\$ ${reg[*]}"; "${reg[@]}"; } >"$out" 2>&1 || status=$?
    if ((status == 0)) || grep -q 'Unable to find' "$out"; then break; fi
    echo "reg query $* (attempt $attempt) failed with $status:" >&2
    cat "$out" >&2
    sleep 1
  done
  tail -n +2 "$out"
  return "$status"
}
absent() { ! query "$@"; }
has_value() {  # has_value KEY NAME TEXT (an empty NAME is the default value)
  local value=(/ve)
  [[ -n $2 ]] && value=(/v "$2")
  query "$1" "${value[@]}" 2>/dev/null | tr -d '\r' | grep -qF -- "$3"
}

for bits in 64 32; do
  build=$build64
  [[ $bits == 32 ]] && build=$build32
  [[ $bits == 32 && $run32 == no ]] && continue
  dll=$(winpath "$build/platform/windows/VandrelQMV.dll")
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
# Both bitnesses registered side by side: the 32-bit one's unregistering leaves the 64-bit
# one whole, shared keys included, and the 64-bit one's then leaves nothing. For the machine
# only: Wine keeps one per-user class key for both views (Windows redirects the 32-bit one to
# Wow6432Node), so per user under Wine the second registration replaces the first.
if [[ $run32 == yes ]]; then
  dll64=$(winpath "$build64/platform/windows/VandrelQMV.dll")
  dll32=$(winpath "$build32/platform/windows/VandrelQMV.dll")
  for scope in machine; do
    root='HKCU\Software' args=(/s) uargs=(/u /s)
    [[ $scope == machine ]] && root='HKLM\Software' args=(/s /n /i:machine) uargs=(/u /s /n /i:machine)
    where="side by side, $scope"
    addin="$root\\Microsoft\\Office\\Excel\\Addins\\Orvik.Connect"
    typelib="$root\\Classes\\TypeLib\\{E112FEC0-89B6-4778-9F38-486F95ECF72B}"
    check "regsvr32 64-bit ($where)" "$wine64" regsvr32 "${args[@]}" "$dll64"
    check "regsvr32 32-bit ($where)" "$wine64" regsvr32 "${args[@]}" "$dll32"
    check "regsvr32 /u 32-bit ($where)" "$wine64" regsvr32 "${uargs[@]}" "$dll32"
    bits=64
    check "64-bit class kept ($where)" has_value "$root\\Classes\\CLSID\\$clsid\\InprocServer32" "" "VandrelQMV.dll"
    check "ProgID kept ($where)" has_value "$root\\Classes\\Orvik.Connect\\CLSID" "" "$clsid"
    check "64-bit type library kept ($where)" query "$typelib\\1.0\\0\\win64"
    check "32-bit type library file removed ($where)" absent "$typelib\\1.0\\0\\win32"
    check "add-in key kept ($where)" has_value "$addin" LoadBehavior 0x3
    bits=32
    check "32-bit class removed ($where)" absent "$root\\Classes\\CLSID\\$clsid"
    check "regsvr32 /u 64-bit ($where)" "$wine64" regsvr32 "${uargs[@]}" "$dll64"
    bits=64
    check "ProgID removed ($where)" absent "$root\\Classes\\Orvik.Connect"
    check "type library removed ($where)" absent "$typelib"
    check "add-in key removed ($where)" absent "$addin"
  done
fi
echo "registry: $passed passed, $failed failed"

# The unit and COM tests of each build. Their windows need a display: the Wine server
# started by the registry checks has none, so each program gets a new server under Xvfb.
tests_status=0
sessions_status=0
shots=$(mktemp -d /tmp/qmv-shots.XXXXXX)
for bits in 64 32; do
  build=$build64 loader=$wine64 pictures=("QMV_SCREENSHOTS=$(winpath "$shots")")
  [[ $bits == 32 ]] && build=$build32 loader=$wine32 pictures=()
  [[ $bits == 32 && $run32 == no ]] && continue
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
  mkdir -p "$QMV_SCREENSHOT_OUT/150"
  for form in frmPrgBar frmTextRemover frmUG; do
    convert "$shots/$form.bmp" "$QMV_SCREENSHOT_OUT/$form.png"
  done
  # The same forms at 150 % display scale (144 DPI), as Wine's Tahoma draws them.
  new_server
  "$wine64" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1
  rm -f "$shots"/*.bmp
  new_server
  (cd "$build64/platform/windows" &&
    env "QMV_SCREENSHOTS=$(winpath "$shots")" xvfb-run -a -s '-screen 0 1280x1024x24' \
      "$wine64" test_com_sessions.exe >/dev/null 2>&1) || sessions_status=1
  new_server
  "$wine64" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1
  for form in frmPrgBar frmTextRemover frmUG; do
    convert "$shots/$form.bmp" "$QMV_SCREENSHOT_OUT/150/$form.png"
  done
fi
rm -rf "$shots"

# The MSI packages, built and signed by scripts/package-windows.sh: each installed with
# msiexec as the user, every entry of its Registry table read back, the add-in loaded from
# its installed path and connected to the fake Excel, then uninstalled with nothing left.
new_server
QMV_WIN64_BUILD=$build64 QMV_WIN32_BUILD=$build32 "$repo/scripts/package-windows.sh" >/dev/null
lasting_server
version=$(tr -d '[:space:]' <"$build64/platform/windows/version.txt")
user_name=$(id -un)
msi_passed=0
msi_failed=0
msi_check() {  # msi_check NAME COMMAND...
  if passes "$@"; then msi_passed=$((msi_passed + 1)); else msi_failed=$((msi_failed + 1)); fi
}
# The entries of an MSI's Registry table: root, key, name (one per line, tab-separated).
registry_rows() { msiinfo export "$1" Registry | tail -n +4 | awk -F'\t' '{print $2 "\t" $3 "\t" $4}'; }
# has_entry HIVE KEY NAME: the key ("*": the key itself), the default value ("") or a value.
has_entry() {
  case $3 in
    '*') query "$1\\$2" ;;
    '') query "$1\\$2" /ve ;;
    *) query "$1\\$2" /v "$3" ;;
  esac
}
lacks_entry() { ! has_entry "$@"; }
# install_place ARCH SCOPE: the package's hive, install folder (Windows and Linux paths) and
# msiexec properties; per user, each bitness has a folder of its own.
install_place() {
  hive=HKCU props=() msi=$repo/dist/VandrelQMV-$version-$1.msi
  msi_win=$(winpath "$msi")
  local name="Vandrel QMV"
  [[ $1 == x86 ]] && name="Vandrel QMV (x86)"
  folder="C:\\users\\$user_name\\AppData\\Local\\Programs\\$name"
  unix_folder="$WINEPREFIX/drive_c/users/$user_name/AppData/Local/Programs/$name"
  if [[ $2 == machine ]]; then
    local program_files="Program Files"
    [[ $1 == x86 ]] && program_files="Program Files (x86)"
    hive=HKLM props=(ALLUSERS=1)
    folder="C:\\$program_files\\Vandrel QMV" unix_folder="$WINEPREFIX/drive_c/$program_files/Vandrel QMV"
  fi
}
signed() { osslsigncode verify -CAfile "$repo/dist/test-signing-cert.pem" -in "$1"; }
for arch in x64 x86; do
  bits=64 build=$build64 loader=$wine64
  [[ $arch == x86 ]] && bits=32 build=$build32 loader=$wine32
  install_place "$arch" user
  extracted=$(mktemp -d /tmp/qmv-msi.XXXXXX)
  msi_check "MSI signature ($arch)" signed "$msi"
  msiextract -C "$extracted" "$msi" >/dev/null
  msi_check "DLL signature inside the MSI ($arch)" signed "$(find "$extracted" -name VandrelQMV.dll)"
  rm -rf "$extracted"
  for scope in user machine; do
    install_place "$arch" "$scope"
    where="$arch, $scope"
    msi_check "msiexec /i ($where)" "$wine64" msiexec /i "$msi_win" /qn "${props[@]}"
    msi_check "installed file ($where)" test -f "$unix_folder/VandrelQMV.dll"
    rows=0
    while IFS=$'\t' read -r _ key name; do
      rows=$((rows + 1))
      msi_check "registry entry $key [$name] ($where)" has_entry "$hive" "$key" "$name"
    done < <(registry_rows "$msi")
    msi_check "registry table read ($where)" test "$rows" -gt 30
    msi_check "class server path ($where)" has_value \
      "$hive\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" "" "$folder\\VandrelQMV.dll"
    if [[ $bits == 64 || $run32 == yes ]]; then
      # Its windows need a display, which a server started without one cannot give.
      new_server
      msi_check "the installed add-in connects to the fake Excel ($where)" \
        xvfb-run -a "$loader" "$build/platform/windows/installed_addin_check.exe" \
        "$folder\\VandrelQMV.dll"
      lasting_server
    else
      skip32 "installed add-in check ($where)"
    fi
    msi_check "msiexec /x ($where)" "$wine64" msiexec /x "$msi_win" /qn "${props[@]}"
    while IFS=$'\t' read -r _ key name; do
      msi_check "registry entry removed: $key [$name] ($where)" lacks_entry "$hive" "$key" "$name"
    done < <(registry_rows "$msi")
    msi_check "installed file removed ($where)" test ! -e "$unix_folder"
  done
done
# Both packages side by side: uninstalling one leaves the other whole, in its registry entries
# (the shared ones among them) and in Excel, once with each going first. For the machine only,
# as above (Wine's one per-user class key for both views).
for first in x86 x64; do
  scope=machine second=x86
  [[ $first == x86 ]] && second=x64
  for arch in x64 x86; do
    install_place "$arch" "$scope"
    msi_check "msiexec /i, side by side ($arch, $scope)" "$wine64" msiexec /i "$msi_win" /qn "${props[@]}"
  done
  install_place "$first" "$scope"
  msi_check "msiexec /x of one of two ($first, $scope)" "$wine64" msiexec /x "$msi_win" /qn "${props[@]}"
  install_place "$second" "$scope"
  bits=64 build=$build64 loader=$wine64
  [[ $second == x86 ]] && bits=32 build=$build32 loader=$wine32
  where="$second, $scope, after $first went"
  while IFS=$'\t' read -r _ key name; do
    msi_check "registry entry $key [$name] ($where)" has_entry "$hive" "$key" "$name"
  done < <(registry_rows "$msi")
  msi_check "installed file ($where)" test -f "$unix_folder/VandrelQMV.dll"
  if [[ $bits == 64 || $run32 == yes ]]; then
    new_server
    msi_check "the installed add-in connects to the fake Excel ($where)" \
      xvfb-run -a "$loader" "$build/platform/windows/installed_addin_check.exe" "$folder\\VandrelQMV.dll"
    lasting_server
  else
    skip32 "installed add-in check ($where)"
  fi
  msi_check "msiexec /x of the other ($second, $scope)" "$wine64" msiexec /x "$msi_win" /qn "${props[@]}"
  # Nothing of either is left. But for one difference of Wine's: Windows keeps one ProgID key
  # for both views, Wine's msiexec writes one per view, and the copy of the package that went
  # first stays behind (Windows Installer counted the shared component as the other's). So the
  # ProgIDs are checked in the 64-bit view where the 64-bit package went last, and Wine's
  # leftover copies are then removed so that the next round starts clean.
  for arch in x64 x86; do
    install_place "$arch" "$scope"
    bits=64
    [[ $arch == x86 ]] && bits=32
    while IFS=$'\t' read -r _ key name; do
      if [[ $key == 'Software\Classes\Orvik.'* && ($second != x64 || $bits == 32) ]]; then continue; fi
      msi_check "registry entry removed: $key [$name] (side by side, $arch, $scope, $second last)" \
        lacks_entry "$hive" "$key" "$name"
    done < <(registry_rows "$msi")
  done
  for progid in Orvik.Connect Orvik.cbEvents; do
    for view in 64 32; do
      "$wine64" reg delete "HKLM\\Software\\Classes\\$progid" /f "/reg:$view" >/dev/null 2>&1 || true
    done
  done
done

# Upgrades: an older package (this one made 0.9.0, with product and package codes of its
# own, as a former release has) is replaced by the current one, which removes it first.
bits=64
newguid() { tr '[:lower:]' '[:upper:]' </proc/sys/kernel/random/uuid; }
older_dir=$(mktemp -d /tmp/qmv-older.XXXXXX)
older=$older_dir/VandrelQMV-0.9.0-x64.msi
current=$repo/dist/VandrelQMV-$version-x64.msi
cp "$current" "$older"
older_code="{$(newguid)}"
msibuild "$older" -q "UPDATE \`Property\` SET \`Value\` = '0.9.0' WHERE \`Property\` = 'ProductVersion'"
msibuild "$older" -q "UPDATE \`Property\` SET \`Value\` = '$older_code' WHERE \`Property\` = 'ProductCode'"
msibuild "$older" -s "Vandrel QMV 0.9.0" Vandrel "x64;1033" "{$(newguid)}"
# Installed products are listed under Uninstall (per user or, under Wine, per machine).
listed() {
  local key="Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$1"
  query "HKCU\\$key" || query "HKLM\\$key"
}
unlisted() { ! listed "$1"; }
# The user's own settings, written by the add-in at run time, are not the package's: an
# upgrade keeps them, and so does an uninstall (as Windows Installer leaves what it did not
# install).
"$wine64" reg add 'HKCU\Software\Vandrel QMV' /v UnicodeText /t REG_DWORD /d 1 /f >/dev/null 2>&1
msi_check "older package installs" "$wine64" msiexec /i "$(winpath "$older")" /qn
msi_check "older package is listed" listed "$older_code"
msi_check "current package installs over it" "$wine64" msiexec /i "$(winpath "$current")" /qn
msi_check "the older package was removed" unlisted "$older_code"
msi_check "current package uninstalls" "$wine64" msiexec /x "$(winpath "$current")" /qn
msi_check "nothing left after the upgrade" test ! -e \
  "$WINEPREFIX/drive_c/users/$user_name/AppData/Local/Programs/Vandrel QMV"
msi_check "no add-in key left after the upgrade" lacks_entry HKCU \
  'Software\Microsoft\Office\Excel\Addins\Orvik.Connect' '*'
msi_check "the user's setting outlives upgrade and uninstall" has_value \
  'HKCU\Software\Vandrel QMV' UnicodeText 0x1
"$wine64" reg delete 'HKCU\Software\Vandrel QMV' /f >/dev/null 2>&1 || true
rm -rf "$older_dir"
echo "MSI packages: $msi_passed passed, $msi_failed failed"

if ((failed > 0 || msi_failed > 0 || tests_status != 0 || sessions_status != 0)); then exit 1; fi
