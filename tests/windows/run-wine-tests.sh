#!/usr/bin/env bash
# Runs the Wine integration tests of R3_Installer.exe and R3_Uninstaller.exe in a fresh Wine
# prefix under a temporary folder. Must run with an X display (xvfb-run) for the dialogs.
#
# Usage: tests/windows/run-wine-tests.sh <programs build dir> <test build dir> <screenshot dir>
#
# TESSALY_EXE, when it names a built Tessaly.exe, puts the real settings utility into the kit
# (and the tools folder check then compares the installed copy with it); otherwise a stand-in.
#
# Every scenario is one run of R3TestDriver.exe, which prints PASS/FAIL lines; this script adds
# its own checks, counts them and prints "N passed, N failed" at the end. Every wait is bounded.
set -uo pipefail

programs=$(realpath "$1")
testbuild=$(realpath "$2")
shots=$(realpath -m "$3")
here=$(cd "$(dirname "$0")" && pwd)

passed=0
failed=0
pass() { echo "PASS $1"; passed=$((passed + 1)); }
fail() { echo "FAIL $1"; failed=$((failed + 1)); }

work=$(mktemp -d /tmp/r3-wine.XXXXXX)
export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
keeper_pid=""
shooter_pid=""

cleanup() {
  [ -n "$shooter_pid" ] && kill "$shooter_pid" 2>/dev/null
  timeout 30 wineserver -k 2>/dev/null
  timeout 30 wineserver -w 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

echo "== Wine prefix in $WINEPREFIX"
t0=$(date +%s)
if ! timeout 120 wineboot -i >/dev/null 2>&1 || ! timeout 60 wineserver -w; then
  fail "the Wine prefix is created"
  echo "$passed passed, $failed failed"
  exit 1
fi
fonts="$WINEPREFIX/drive_c/windows/Fonts"
# Wine's own fonts, among them its "MS Sans Serif" for the dialogs, are not found by this
# Wine build unless they are in the prefix.
cp /usr/share/wine/fonts/marlett.ttf /usr/share/wine/fonts/tahoma*.ttf \
   /usr/share/wine/fonts/ms_sans_serif.ttf /usr/share/wine/fonts/sserife.fon "$fonts/"
# Test prefix settings: a crash must not hold the prefix open with a dialog, and Wine draws
# the window frames itself in a virtual desktop, since Xvfb has no window manager.
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
timeout 60 wineserver -w
echo "   prefix ready in $(( $(date +%s) - t0 )) s"

# The kit as the installer expects it beside itself: the driver's files (stand-ins) in
# "driver", its INF as "Driver\R3.INF" (the same folder: Windows paths ignore case) and the
# tools. Only R3_Uninstaller.exe is real among the tools.
kit="$WINEPREFIX/drive_c/r3kit"
mkdir -p "$kit/driver"
cp "$programs/installer/win32/R3_Installer.exe" "$programs/uninstaller/win32/R3_Uninstaller.exe" \
   "$testbuild/R3TestDriver.exe" "$kit/"
cp "$testbuild/MONR3.DLL" "$here/standins/R3.INF" "$kit/driver/"
for f in PROR3.DLL UNIDRV.DLL UNIDRVUI.DLL UNIDRV.HLP UNIRES.DLL R3E.DLL UIR3.DLL UNIR3.DLL \
         UIR3.INI R3E.GPD STDNAMES.GPD; do
  printf 'Stand-in for %s of the R-3 driver, for the Wine integration tests only.\r\n' "$f" \
    > "$kit/driver/$f"
done
for f in NVLogo.exe NVPack.inf Tessaly.exe; do
  printf 'Stand-in for %s, for the Wine integration tests only.\r\n' "$f" > "$kit/$f"
done
if [ -n "${TESSALY_EXE:-}" ] && [ -f "$TESSALY_EXE" ]; then
  cp "$TESSALY_EXE" "$kit/Tessaly.exe"
fi

# Screenshots: the test driver writes <name>.req into the folder and waits until it is gone.
rm -rf "$shots"
mkdir -p "$shots"
(
  while true; do
    for req in "$shots"/*.req; do
      [ -e "$req" ] || continue
      timeout 10 import -window root "${req%.req}.png" 2>/dev/null
      rm -f "$req"
    done
    sleep 0.1
  done
) &
shooter_pid=$!
shots_win="Z:$(echo "$shots" | tr / '\\')"

start_keeper() {
  # One process kept alive in the prefix makes every Wine call start in about 0.2 s.
  wine "$kit/R3TestDriver.exe" idle >/dev/null 2>&1 &
  keeper_pid=$!
  sleep 1
}

# Runs one scenario; its PASS/FAIL lines are counted. A driver that neither passes nor
# fails anything, or that is cut off by the time limit, counts as a failure.
run_scenario() {
  local name=$1 limit=${2:-150}
  echo "== $name"
  local out="$work/$name.log"
  (cd "$kit" && timeout -k 5 "$limit" wine R3TestDriver.exe "$name" 'C:\r3kit' "$shots_win") \
    >"$out" 2>"$work/$name.err"
  local rc=$?
  cat "$out" | tr -d '\r'
  local p f
  p=$(grep -c '^PASS' "$out")
  f=$(grep -c '^FAIL' "$out")
  passed=$((passed + p))
  failed=$((failed + f))
  if [ "$rc" -eq 124 ] || [ "$rc" -eq 137 ]; then fail "$name ends within ${limit} s"; fi
  if [ "$p" -eq 0 ] && [ "$f" -eq 0 ]; then
    fail "$name reports its checks (exit $rc)"
    tail -5 "$work/$name.err"
  fi
  return 0
}

# A scenario that ends in the installer's restart. Programs with windows are asked to end
# their session and then ended (the scenario's bystander window says it was asked); a forced
# restart would end every process of the prefix at once, the keeper included.
run_restart_scenario() {
  local name=$1
  run_scenario "$name" 150
  if grep -q '^PASS other programs are asked to end their session first' "$work/$name.log" \
     && kill -0 "$keeper_pid" 2>/dev/null; then
    pass "$name: the restart lets other programs end their session themselves"
  else
    fail "$name: the restart lets other programs end their session themselves"
    kill -0 "$keeper_pid" 2>/dev/null || echo "   the windowless keeper process was ended too"
  fi
  if ! kill -0 "$keeper_pid" 2>/dev/null; then
    timeout 30 wineserver -w
    start_keeper
  fi
}

t0=$(date +%s)
start_keeper
# The dialogs, bitmap, icons and version information built into the programs.
run_scenario resources 60
# Fresh system: closing the port dialog installs nothing.
run_scenario install-cancel
# Fresh system, COM1: everything up to the queue, which Wine's spooler refuses.
run_scenario install-com1
# What that left behind is a different version to the next installer run.
run_restart_scenario remove-leftover-driver
run_restart_scenario remove-leftover-processor
run_scenario forget-print-processor 60
# Fresh again, USB: the full installation, and the uninstaller finding the driver without
# a queue.
run_scenario install-usb
if [ -n "${TESSALY_EXE:-}" ] && [ -f "$TESSALY_EXE" ]; then
  if cmp -s "$TESSALY_EXE" "$WINEPREFIX/drive_c/windows/R-3/Tessaly.exe"; then
    pass "the tools folder R-3 receives the settings utility Tessaly.exe"
  else
    fail "the tools folder R-3 receives the settings utility Tessaly.exe"
  fi
fi
run_scenario uninstall-driver-only
run_scenario forget-print-processor 60
# Installed again, for the uninstaller against queues, with the driver's INF already in the
# INF folder.
run_scenario install-usb-inf-present
# The uninstaller against queues the test creates.
run_scenario uninstall-cancel
run_scenario uninstall-one
run_scenario uninstall-rest
run_scenario uninstall-nothing
echo "   scenarios took $(( $(date +%s) - t0 )) s"

count=$(ls "$shots"/*.png 2>/dev/null | wc -l)
if [ "$count" -ge 10 ]; then pass "screenshots saved ($count)"; else fail "screenshots saved ($count)"; fi
echo "== screenshots in $shots"

kill "$shooter_pid" 2>/dev/null
shooter_pid=""
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
