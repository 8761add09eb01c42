#!/usr/bin/env bash
# Installs the Windows installer silently under wine, starts the installed
# TNC (on loopback ports of its own, no rigctld) and ends it with Ctrl+C,
# then uninstalls silently: the programs and the Start-menu entry go, the
# operator's %USERPROFILE%\Kestrelis stays. Expects the wineserver of
# scripts/windows-test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
win=${1:-build-windows}
: "${WINEPREFIX:?run through scripts/windows-test.sh}"
setup=$(ls "$win"/kestrelis-*-windows-x64-setup.exe 2>/dev/null | head -n 1)
[[ -n $setup ]] || { echo "installer: no setup.exe in $win (make windows)" >&2; exit 1; }

fail() { echo "installer: FAILED: $*" >&2; exit 1; }
program_files="$WINEPREFIX/drive_c/Program Files/Kestrelis"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Kestrelis"
profile=$(winepath -u "$(wine cmd /c echo %USERPROFILE% 2>/dev/null </dev/null | tr -d '\r')")
# Inside the build folder, where nothing else tidies up.
work=$(mktemp -d "$PWD/$win/setup-check-XXXXXX")
tnc_pid=""
finish() {
  [[ -n $tnc_pid ]] && kill "$tnc_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap finish EXIT

# The operator's folder from an earlier use, which uninstalling must keep.
mkdir -p "$profile/Kestrelis"
marker="$profile/Kestrelis/installer-check.txt"
echo kept >"$marker"

wine "$setup" /S </dev/null >/dev/null 2>&1
for file in kestrelis-tnc.exe kestrelis-forward.exe kestrelis-sim.exe kestrelis-kiss.exe \
  kestrelis-tnc-start.cmd config.ini.example uninstall.exe manual/kestrelis-tnc.txt; do
  [[ -f $program_files/$file ]] || fail "$file was not installed"
done
[[ -f "$menu/Kestrelis TNC.lnk" ]] || fail "no Start-menu entry"

# The installed TNC starts, listens on its ports and ends on Ctrl+C.
port=$((30000 + RANDOM % 20000))
printf '[modem]\r\nGR_ReceivePort = %d\r\nGR_TransmitPort = %d\r\nGR_ReceiveAddress = 127.0.0.1\r\n[KISS]\r\nKISS_Port = %d\r\nKISS_Address = 127.0.0.1\r\n[rigctld]\r\nAddress =\r\n' \
  "$port" $((port + 1)) $((port + 3)) >"$work/config.ini"
wine "$program_files/kestrelis-tnc.exe" --config "$(winepath -w "$work/config.ini")" \
  >"$work/tnc.log" 2>&1 </dev/null &
tnc_pid=$!
for _ in $(seq 1 100); do
  grep -qs "Waiting for GUI client" "$work/tnc.log" && break
  sleep 0.1
done
grep -q "Waiting for GUI client" "$work/tnc.log" ||
  fail "the installed TNC did not start: $(cat "$work/tnc.log" 2>&1)"
kill -INT "$tnc_pid"
wait "$tnc_pid" || true
tnc_pid=""

# The uninstaller copies itself away and runs from there: wait for its end,
# which removes the programs and the Start-menu entry in either order.
wine "$program_files/uninstall.exe" /S </dev/null >/dev/null 2>&1
for _ in $(seq 1 100); do
  [[ -e $program_files || -e $menu ]] || break
  sleep 0.1
done
[[ ! -e $program_files ]] || fail "the uninstaller left $(ls "$program_files")"
[[ ! -e $menu ]] || fail "the uninstaller left the Start-menu entry"
[[ $(cat "$marker" 2>/dev/null) == kept ]] || fail "the uninstaller removed %USERPROFILE%\\Kestrelis"
rm -f "$marker"
echo "installer: installed, started, stopped and uninstalled silently; %USERPROFILE%\\Kestrelis kept"
