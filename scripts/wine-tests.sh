#!/usr/bin/env bash
# The 32-bit Windows DLL under Wine.
#
# Builds QUARO7K7_PTZ.dll, the Windows host program and ptzctl.exe (preset
# win32, build-win32/), the Linux library, host program, dome simulator and tests
# (preset default, build/), prepares a private Wine prefix in
# build-win32/wineprefix and runs:
#   - the Wine tests of the integration suite: the export and import tables
#     of the DLL, and every host scenario run against the Linux library and
#     against the DLL under Wine, with results, wire lines, log lines and the
#     settings file compared between the two;
#   - the setup dialogs of the DLL on an Xvfb display of this script's own,
#     worked as a user would, with the settings file after each step compared
#     with the Linux library's file of the same session (made first by the
#     unit test DialogFlowTest); pictures of the dialogs go to
#     build-win32/screenshots (with --screenshots into docs/ as well);
#   - the window interface's rules at its edges in the Win32 renderer's
#     dialogs (win32-window-contract.exe, the checks the tests' fake and the
#     wxWidgets renderer pass);
#   - a smoke run of the Windows host program against the quaro7-domesim
#     tool, whose port Wine sees as COM7;
#   - ptzctl.exe loading the DLL by its path and calling its exports against
#     a second quaro7-domesim, seen as COM8.
# Ends with "N passed, M failed" and a non-zero status when anything failed.
#
# Installs what is missing (needs root then): mingw-w64 and Wine. Where the
# kernel cannot run 32-bit Linux programs itself (no IA-32 emulation), Wine's
# 32-bit loader runs through qemu-i386: the script installs qemu-user-static
# and Wine's 32-bit preloader and registers qemu-i386 for 32-bit programs.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
want_screenshots=0
for arg in "$@"; do
  case "$arg" in
    --screenshots) want_screenshots=1 ;;
    *) echo "wine-tests: unknown option $arg" >&2; exit 2 ;;
  esac
done
jobs=2
linux_build=${QUARO7_LINUX_BUILD:-$root/build}
win_build=$root/build-win32
prefix=$win_build/wineprefix
passed=0
failed=0

step() { echo; echo "=== $*"; }
die() { echo "wine-tests: $*" >&2; echo "0 passed, 1 failed"; exit 1; }
check() {  # check <description> <command...>
  local what=$1; shift
  if "$@"; then
    passed=$((passed + 1)); echo "ok: $what"
  else
    failed=$((failed + 1)); echo "FAILED: $what"
  fi
}
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
apt_install() {
  [ "$(id -u)" = 0 ] || die "missing packages $*; run as root or install them"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$@" >/dev/null || die "apt-get install $* failed"
}

# ---------------------------------------------------------------- packages

step "packages"
scripts/install-deps --windows || die "installing the build and Wine packages failed"
for tool in wine wineserver i686-w64-mingw32-g++-posix i686-w64-mingw32-objdump Xvfb xdotool import; do
  command -v "$tool" >/dev/null || die "$tool not found after installing"
done

# Wine's 32-bit side is a 32-bit Linux program. A kernel without IA-32
# emulation refuses it ("Exec format error"); qemu-i386 then runs it.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "this kernel does not run 32-bit programs: running them through qemu-i386"
  installed qemu-user-static || apt_install qemu-user-static
  installed wine32-preloader:i386 || apt_install wine32-preloader:i386
  [ "$(id -u)" = 0 ] || die "registering qemu-i386 for 32-bit programs needs root"
  binfmt=/proc/sys/fs/binfmt_misc
  [ -e $binfmt/register ] || mount -t binfmt_misc binfmt_misc $binfmt || die "no binfmt_misc"
  if [ ! -e $binfmt/qemu-i386 ]; then
    # ELF, 32-bit, little-endian, executable or shared object, i386; F: the
    # interpreter is opened now, so it works in every mount namespace.
    magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    echo ":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386-static:F" > $binfmt/register ||
      die "registering qemu-i386 failed"
  fi
  /usr/lib/wine/wine --version >/dev/null 2>&1 || die "Wine's 32-bit loader still does not run"
fi

# ---------------------------------------------------------------- builds

step "build: win32"
cmake --preset win32 >/dev/null || die "configuring the win32 build failed"
cmake --build --preset win32 -j"$jobs" || die "the win32 build failed"

step "build: Linux library, host program, simulator and tests"
if [ ! -f "$linux_build/CMakeCache.txt" ]; then
  if [ "$linux_build" = "$root/build" ]; then
    cmake --preset default >/dev/null || die "configuring the Linux build failed"
  else
    cmake -S "$root" -B "$linux_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null ||
      die "configuring the Linux build failed"
  fi
fi
cmake --build "$linux_build" -j"$jobs" --target QUARO7K7_PTZ winhost quaro7-domesim integration_tests unit_tests ||
  die "the Linux build failed"

# ---------------------------------------------------------------- Wine prefix

export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
step "Wine prefix $prefix"
if [ ! -f "$prefix/system.reg" ]; then
  rm -rf "$prefix"
  WINEARCH=win64 wine wineboot -i >"$win_build/wineboot.log" 2>&1
  wineserver -w
  [ -f "$prefix/system.reg" ] || die "wineboot did not make the prefix (see $win_build/wineboot.log)"
fi
# The fonts Debian's Wine keeps outside the prefix ("MS Sans Serif" of the
# dialogs).
mkdir -p "$prefix/drive_c/windows/Fonts"
cp -n /usr/share/wine/fonts/* "$prefix/drive_c/windows/Fonts/" 2>/dev/null || true
# Wine draws the dialogs' frames and captions itself (there is no window
# manager on the Xvfb display), so the pictures show them.
if ! grep -q '"Managed"="N"' "$prefix/user.reg" 2>/dev/null; then
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
    </dev/null >>"$win_build/wineboot.log" 2>&1
  wineserver -w
fi
# One wineserver for the whole run, so that each program starts quickly, and
# Wine's background services started now, away from this script's output:
# they live as long as the wineserver and would hold a pipe open.
wineserver -p >/dev/null 2>&1
wine wineboot </dev/null >>"$win_build/wineboot.log" 2>&1
simulator_pid=
xvfb_pid=
smoke_dir=
ptzctl_simulator_pid=
ptzctl_dir=
cleanup() {
  local pid
  for pid in $simulator_pid $ptzctl_simulator_pid $xvfb_pid; do
    kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  rm -f "$prefix/dosdevices/com7" "$prefix/dosdevices/com8"
  [ -n "$smoke_dir" ] && rm -rf "$smoke_dir"
  [ -n "$ptzctl_dir" ] && rm -rf "$ptzctl_dir"
  wineserver -k 2>/dev/null
}
trap cleanup EXIT

# ---------------------------------------------------------------- a display

# A display of this run's own for the dialogs: the first free number from 91.
step "X display for the dialogs"
display=
for n in $(seq 91 130); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >"$win_build/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  if [ -e "/tmp/.X11-unix/X$n" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
    display=":$n"
    break
  fi
  kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; xvfb_pid=
done
[ -n "$display" ] || die "Xvfb did not start (see $win_build/xvfb.log)"
echo "Xvfb on $display"

# The Linux library's settings files of the dialog session the Wine test
# repeats.
step "the dialog session on the Linux library (reference files)"
reference=$win_build/dialog-reference
screenshots=$win_build/screenshots
rm -rf "$reference" "$screenshots"
mkdir -p "$reference" "$screenshots"
reference_session() {
  QUARO7_DIALOG_REFERENCE="$reference" "$linux_build/tests/unit_tests" \
    --gtest_filter='DialogFlowTest.*' </dev/null >"$win_build/dialog-reference.log" 2>&1
}
check "the Linux library's dialog session (DialogFlowTest) writes its settings files" \
  reference_session

# ---------------------------------------------------------------- integration suite

step "Wine tests of the integration suite"
suite_log=$win_build/wine-suite.log
QUARO7_WIN32_BUILD=$win_build QUARO7_LINUX_WINHOST=$linux_build/tools/winhost/winhost \
  QUARO7_WINE_DISPLAY=$display QUARO7_DIALOG_REFERENCE=$reference QUARO7_SCREENSHOT_DIR=$screenshots \
  "$linux_build/tests/integration_tests" --gtest_filter='WineHostTest.*:WineDialogsTest.*' \
  </dev/null >"$suite_log" 2>&1
cat "$suite_log"
suite_passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\.$/\1/p' "$suite_log")
suite_failed=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\?, listed below:$/\1/p' "$suite_log")
suite_skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\?, listed below:$/\1/p' "$suite_log")
passed=$((passed + ${suite_passed:-0}))
failed=$((failed + ${suite_failed:-0} + ${suite_skipped:-0}))
if [ -z "$suite_passed" ] && [ -z "$suite_failed" ]; then
  echo "FAILED: the integration suite did not report"; failed=$((failed + 1))
fi
shots=$(ls "$screenshots"/win32-*.png 2>/dev/null | wc -l)
check "pictures of the six Windows dialogs and boxes in $screenshots" test "$shots" -eq 6
if [ "$want_screenshots" = 1 ] && [ "$shots" -gt 0 ]; then
  cp "$screenshots"/win32-*.png "$root/docs/" && echo "pictures copied into docs/"
fi

# ---------------------------------------------------------------- window interface

step "the window interface's rules in the Win32 renderer's dialogs"
# Under this script's wineserver (started without a display) the program's
# first run was seen to get no dialog at all (status 3); that run is tried
# again, a broken rule is not.
contract_run() {
  local status attempt
  for attempt in 1 2 3; do
    DISPLAY=$display wine "$win_build/tools/winhost/win32-window-contract.exe" </dev/null \
      >"$win_build/window-contract.log" 2>&1
    status=$?
    tr -d '\r' <"$win_build/window-contract.log"
    [ "$status" = 3 ] || break
    sleep 2
  done
  return $status
}
check "win32-window-contract.exe: every rule holds" contract_run

# ---------------------------------------------------------------- a simulated line

# simulated_line DIR LINE-NAME COM: a copy of the DLL in DIR with one camera
# on COM, a quaro7-domesim answering there (trace in DIR/trace.log, its pid in
# $line_pid), and the pty mapped as COM in the Wine prefix ($line_pty).
simulated_line() {
  local dir=$1 name=$2 com=$3
  cp "$win_build/QUARO7K7_PTZ.dll" "$dir/"
  cat >"$dir/QUARO7K7_PTZ.xml" <<XML
<?xml version='1.0' encoding='iso-8859-1'?>
<settings>
	<comm1><Name value="$name"/><ComPort value="$com"/><PortMode value="96,E,8,1"/>
		<cam1><Name value="Dome"/><TavoID value="0"/><SysID value="3"/><NodeAddress value="128"/><CamAccFactor value="6"/><WaitForResponse value="1"/><ControlMonitor value="1"/><NofRelays value="3"/><NofStorageLocations value="99"/>
		</cam1>
	</comm1>
</settings>
XML
  "$linux_build/tools/domesim/quaro7-domesim" --port-dir "$dir" --com "$com" --trace \
    >"$dir/trace.log" 2>&1 &
  line_pid=$!
  for _ in $(seq 50); do [ -L "$dir/ports/COM$com" ] && break; sleep 0.1; done
  line_pty=$(readlink "$dir/ports/COM$com")
  ln -sfn "$line_pty" "$prefix/dosdevices/com$com"
}

# ---------------------------------------------------------------- smoke run

step "smoke: winhost.exe against quaro7-domesim on COM7"
smoke_dir=$(mktemp -d /tmp/q7wine-smoke-XXXXXX)
simulated_line "$smoke_dir" Smoke 7
simulator_pid=$line_pid
win_dir="Z:${smoke_dir//\//\\\\}"
{
  printf 'load "%s\\\\QUARO7K7_PTZ.dll"\n' "$win_dir"
  printf 'VRT_CamInitModule 1 "%s"\n' "$win_dir"
  printf 'TAVOPZTChannel 6 5 00000000000000000000\n'
  printf 'VRT_CamExitModule\nquit\n'
} | wine "$win_build/tools/winhost/winhost.exe" >"$smoke_dir/replies.txt" 2>"$smoke_dir/stderr.txt"
replies=$(tr -d '\r' <"$smoke_dir/replies.txt")
echo "$replies"
expected_replies() {
  [ "$(echo "$replies" | sed -n 1p)" = ok ] &&
    echo "$replies" | sed -n 2p | grep -q '^= 1 ' &&
    echo "$replies" | sed -n 3p | grep -Eq '^= 1 .*record=00000000[0-9a-f]{4}0010' &&
    echo "$replies" | sed -n 4p | grep -q '^= 1 '
}
# The channel's open writes the handle 0x1000xxxx at offset 4 of its record.
check "winhost.exe loads the DLL, finds every export, initialises and opens through the channel" \
  expected_replies
wire_lines() {
  grep -o '^[0-9:.]* @[0-9,]*' "$smoke_dir/trace.log" | awk '{print $2}' | paste -sd' '
}
check "the dome saw the open sequence: @2,1 @3,3 @5,23 @2,1 @3,3 @6,22" \
  test "$(wire_lines)" = "@2,1 @3,3 @5,23 @2,1 @3,3 @6,22"
check "the log records the open" \
  grep -q "COMM.Open: Connection 'Smoke' opened with settings 96,E,8,1" "$smoke_dir/QUARO7K7_PTZ.log"

# ---------------------------------------------------------------- ptzctl.exe

step "ptzctl.exe against quaro7-domesim on COM8"
ptzctl_dir=$(mktemp -d /tmp/q7wine-ptzctl-XXXXXX)
simulated_line "$ptzctl_dir" Line8 8
ptzctl_simulator_pid=$line_pid
ptzctl_pty=$line_pty
ptzctl_library="Z:${ptzctl_dir//\//\\}\\QUARO7K7_PTZ.dll"
# The directory as ptzctl prints it: in quotes, each \ doubled.
ptzctl_quoted_dir="Z:${ptzctl_dir//\//\\\\}"
ptzctl_out=
ptzctl_status=
ptzctl_wire=
# ptzctl <args...>: runs ptzctl.exe on the copy of the DLL; keeps its output,
# its status and the wire lines the dome saw meanwhile.
ptzctl() {
  local before
  before=$(grep -c '^[0-9:.]* @' "$ptzctl_dir/trace.log")
  wine "$win_build/ptzctl.exe" --lib "$ptzctl_library" "$@" </dev/null >"$ptzctl_dir/out.txt" 2>&1
  ptzctl_status=$?
  ptzctl_out=$(tr -d '\r' <"$ptzctl_dir/out.txt")
  echo "\$ ptzctl.exe --lib $ptzctl_library $*"
  echo "$ptzctl_out"
  echo "(status $ptzctl_status)"
  sleep 0.2
  ptzctl_wire=$(grep -o '^[0-9:.]* @[0-9,]*' "$ptzctl_dir/trace.log" | tail -n +$((before + 1)) |
    awk '{print $2}' | paste -sd' ')
  echo "wire: $ptzctl_wire"
}
has() { printf '%s\n' "$ptzctl_out" | grep -qF -- "$1"; }
open_wire="@2,1 @3,3 @5,23 @2,1 @3,3 @6,22"
# The pty keeps no parity, and Linux refuses a change of line settings that
# changes only what it does not keep, as Wine's second setting of the same
# line would be: the dome's side makes the next one a change again.
reset_line() { stty -F "$ptzctl_pty" -inpck -ignbrk 2>/dev/null; }

ptzctl list
listed() {
  [ "$ptzctl_status" = 0 ] &&
    has "VRT_CamInitModule(1, NULL, \"$ptzctl_quoted_dir\")  ->  1 success" &&
    has 'VRT_CamGetModuleProperties(&record)  ->  1 success, module name "", description "K7 driver for QUARO7 protocol", cameras 1, connections 100 (1 line)' &&
    has 'VRT_CamGetName(0, buffer, 32)  ->  1 success, name "Dome"' &&
    printf '%s\n' "$ptzctl_out" | grep -Eq '^VRT_CamOpen\(0, &handle\)  ->  1 success, handle 0x1000[0-9A-F]{4}$' &&
    has '->  1 success, capabilities 1,1,1,1,1, relays 3, storage locations 99, presets 0' &&
    printf '%s\n' "$ptzctl_out" | grep -Eq '^VRT_CamClose\(0x1000[0-9A-F]{4}\)  ->  1 success$' &&
    has 'VRT_CamExitModule()  ->  1 success' &&
    [ "$ptzctl_wire" = "$open_wire" ]
}
check "ptzctl.exe list: loads the DLL by its path, names camera 0 \"Dome\", opens it ($open_wire), closes it" \
  listed
reset_line
ptzctl left 0 5
moved_left() {
  [ "$ptzctl_status" = 0 ] &&
    printf '%s\n' "$ptzctl_out" | grep -Eq '^VRT_CamLeft\(0x1000[0-9A-F]{4}, 5\)  ->  1 success$' &&
    has 'VRT_CamExitModule()  ->  1 success' &&
    [ "$ptzctl_wire" = "$open_wire @5,3 @7,54,1 @5,23" ]
}
check "ptzctl.exe left 0 5: VRT_CamLeft answers 1 and the dome pans left (@5,3 @7,54,1 @5,23)" \
  moved_left
(cd "$win_build" && wine ./ptzctl.exe version) </dev/null >"$ptzctl_dir/out.txt" 2>&1
ptzctl_status=$?
ptzctl_out=$(tr -d '\r' <"$ptzctl_dir/out.txt")
echo "\$ ptzctl.exe version"
echo "$ptzctl_out"
echo "(status $ptzctl_status)"
check "ptzctl.exe without --lib loads QUARO7K7_PTZ.dll beside itself" \
  eval '[ "$ptzctl_status" = 0 ] && has "VRT_CamGetVersion()  ->  0x12000"'
# Configuration without a window: the driver core inside ptzctl.exe works
# on the DLL's settings file (MSXML), with the dialogs' checks.
settings_before=$(md5sum <"$ptzctl_dir/QUARO7K7_PTZ.xml")
ptzctl config add-line --port 8 --name Twice
check "ptzctl.exe config add-line on a port in use: the dialog's message, status 1, the file unchanged" \
  eval '[ "$ptzctl_status" = 1 ] && has "Checked COM-port is reserved to the another connection" &&
        [ "$(md5sum <"$ptzctl_dir/QUARO7K7_PTZ.xml")" = "$settings_before" ]'
ptzctl config add-line --port COM9 --name "Line 9" --mode 19,N,8,1
check "ptzctl.exe config add-line: the line is saved as comm2" \
  eval '[ "$ptzctl_status" = 0 ] && has "added line comm2: COM9 \"Line 9\", mode 19,N,8,1" &&
        grep -q "<Name value=\"Line 9\"" "$ptzctl_dir/QUARO7K7_PTZ.xml"'
ptzctl config show --json
check "ptzctl.exe config show --json: both lines with their keys" \
  eval '[ "$ptzctl_status" = 0 ] && has "\"Name\": \"Line 9\"" && has "\"PortMode\": \"19,N,8,1\"" &&
        has "\"Name\": \"Dome\""'
ptzctl config remove-line COM9
check "ptzctl.exe config remove-line: the line is gone" \
  eval '[ "$ptzctl_status" = 0 ] && ! grep -q "Line 9" "$ptzctl_dir/QUARO7K7_PTZ.xml"'
settings_before=$(md5sum <"$ptzctl_dir/QUARO7K7_PTZ.xml")
ptzctl config add-camera --line COM8 --number 0 --name Second --address 4
check "ptzctl.exe config add-camera with a camera number taken: the dialog's message, status 1, the file unchanged" \
  eval '[ "$ptzctl_status" = 1 ] &&
        has "Entered Camera ID is reserved to the another camera in the system" &&
        [ "$(md5sum <"$ptzctl_dir/QUARO7K7_PTZ.xml")" = "$settings_before" ]'
ptzctl config add-camera --line COM8 --number 1 --name Pier --address 4 NodeAddress=128 \
  NofRelays=4 RelayName4=Horn
check "ptzctl.exe config add-camera: the camera is saved with its fourth relay named" \
  eval '[ "$ptzctl_status" = 0 ] && has "added camera 1 \"Pier\"" && has "RelayName4 \"Horn\"" &&
        grep -q "<Name value=\"Horn\"" "$ptzctl_dir/QUARO7K7_PTZ.xml"'
settings_before=$(md5sum <"$ptzctl_dir/QUARO7K7_PTZ.xml")
ptzctl config set-camera 1 Aux1Func=1 Aux2Func=1
check "ptzctl.exe config set-camera with two relays on the washer: the dialog's question, status 1, the file unchanged" \
  eval '[ "$ptzctl_status" = 1 ] &&
        has "Two relays performing the same function! Do you like to keep this setting?" &&
        [ "$(md5sum <"$ptzctl_dir/QUARO7K7_PTZ.xml")" = "$settings_before" ]'
ptzctl config set-camera 1 "Name=Pier 2" RelayName1=Pump
check "ptzctl.exe config set-camera: the name and the relay's name are saved" \
  eval '[ "$ptzctl_status" = 0 ] && has "Name \"Pier\" -> \"Pier 2\"" &&
        grep -q "<Name value=\"Pier 2\"" "$ptzctl_dir/QUARO7K7_PTZ.xml" &&
        grep -q "<Name value=\"Pump\"" "$ptzctl_dir/QUARO7K7_PTZ.xml"'
ptzctl config remove-camera 1
check "ptzctl.exe config remove-camera: the camera is gone, camera 0 stays" \
  eval '[ "$ptzctl_status" = 0 ] && has "removed camera 1 \"Pier 2\"" &&
        ! grep -q "Pier" "$ptzctl_dir/QUARO7K7_PTZ.xml" &&
        grep -q "<Name value=\"Dome\"" "$ptzctl_dir/QUARO7K7_PTZ.xml"'
reset_line
ptzctl config ping 0
check "ptzctl.exe config ping 0: the dome answers the camera's address (@3,3)" \
  eval '[ "$ptzctl_status" = 0 ] && has "Found. Delay " && [ "$ptzctl_wire" = "@3,3" ]'
ptzctl drive 0
check "ptzctl.exe drive: not available in the Windows build, status 2" \
  eval '[ "$ptzctl_status" = 2 ] && has "drive is not available in the Windows build"'

echo
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
