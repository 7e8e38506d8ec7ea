#!/usr/bin/env bash
# Runs the Windows utility's programs under Wine: tessaly-cli.exe against the
# in-process virtual printer, against a COM port that Wine maps to a Linux
# pseudo-terminal (no modem lines), and with a spooler queue on that port; the
# link back-end tests (tessaly_link_tests.exe); then Tessaly.exe's dialogs, driven
# by tessaly_gui_tests.exe, with a screenshot of every dialog. Needs an X display
# (xvfb-run). Every step is bounded in time. Ends with "N passed, N failed".
#
#   run-wine-tests.sh <MinGW build dir> <Wine prefix> <screenshot folder>
set -uo pipefail
build=$(realpath "$1")
export WINEPREFIX=$(realpath -m "$2") WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cli="$build/utility/cli/tessaly-cli.exe"
gui="$build/utility/win32/Tessaly.exe"
guitests="$build/tests/windows_utility/tessaly_gui_tests.exe"
shots=$(realpath -m "$3")
linktests="$build/tests/windows_utility/tessaly_link_tests.exe"
work=$(mktemp -d)
passed=0
failed=0
pass() { echo "PASS $*"; passed=$((passed + 1)); }
fail() { echo "FAIL $*"; failed=$((failed + 1)); }
check() { # check "what" command...: passes when the command succeeds
  local what=$1; shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
cleanup() {
  [ -n "${pty_pid:-}" ] && kill "$pty_pid" 2>/dev/null
  [ -n "${keeper_pid:-}" ] && kill "$keeper_pid" 2>/dev/null
  [ -n "${camera_pid:-}" ] && kill "$camera_pid" 2>/dev/null
  wineserver -k 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

if [ ! -d "$WINEPREFIX/drive_c" ]; then
  echo "== creating the Wine prefix $WINEPREFIX"
  timeout 120 wineboot -i >/dev/null 2>&1; wineserver -w
fi
# A pseudo-terminal stands in for a serial line without modem signals; Wine maps
# COM5 and COM12 to it through its own port table, read when its services start.
# LPT2 leads to a device that is no parallel port.
python3 -c '
import os, pty, sys, time
master, slave = pty.openpty()
print(os.ttyname(slave), flush=True)
time.sleep(600)' >"$work/pty" &
pty_pid=$!
for _ in $(seq 50); do [ -s "$work/pty" ] && break; sleep 0.1; done
tty=$(cat "$work/pty")
ports='HKLM\Software\Wine\Ports'
wine reg add "$ports" /v COM5 /d "$tty" /f /reg:64 >/dev/null 2>&1
wine reg add "$ports" /v COM12 /d "$tty" /f /reg:64 >/dev/null 2>&1
wine reg add "$ports" /v LPT2 /d /dev/null /f /reg:64 >/dev/null 2>&1
wineserver -k 2>/dev/null; wineserver -w 2>/dev/null

# One process kept alive in the prefix makes every later Wine start fast.
wine cmd /c "ping -n 600 127.0.0.1 >nul" >/dev/null 2>&1 &
keeper_pid=$!

# Local printer queues: Wine keeps them in its registry.
printers='HKLM\System\CurrentControlSet\Control\Print\Printers'
add_queue() { # name port
  local key="$printers\\$1"
  wine reg add "$key" /v Name /d "$1" /f >/dev/null 2>&1
  wine reg add "$key" /v Port /d "$2" /f >/dev/null 2>&1
  wine reg add "$key" /v "Printer Driver" /d "Generic / Text Only" /f >/dev/null 2>&1
  wine reg add "$key" /v "Print Processor" /d winprint /f >/dev/null 2>&1
  wine reg add "$key" /v Datatype /d RAW /f >/dev/null 2>&1
}
queue_port() { wine reg query "$printers\\$1" /v Port 2>/dev/null | tr -d '\r' | awk '/Port/ {print $3}'; }
add_queue "R3 Receipt" COM1
add_queue "Far Queue" COM10
add_queue "Pooled" "COM1,COM2"
add_queue "Other" "LPT1:"
add_queue "Counter" COM5

# run NAME SECONDS ARGS...: runs the command line, keeps its output and status.
run() {
  local name=$1 limit=$2; shift 2
  local start=$(date +%s%N)
  timeout -k 5 "$limit" wine "$cli" "$@" >"$work/$name.out" 2>"$work/$name.err"
  echo $? >"$work/$name.rc"
  echo $(( ($(date +%s%N) - start) / 1000000 )) >"$work/$name.ms"
}
rc() { cat "$work/$1.rc"; }
out() { tr -d '\r' <"$work/$1.out"; }
err() { tr -d '\r' <"$work/$1.err"; }

echo "== tessaly-cli.exe"
run version 20 --version
check "--version names the program and its version" grep -q "^tessaly-cli 1.0.0" <(out version)
check "--version says whether the font data is the vendor's" grep -q "font payloads" <(out version)

run ports 30 ports
check "ports succeeds" test "$(rc ports)" = 0
check "ports lists COM1 as a serial port" grep -Eq '^COM1 +serial' <(out ports)
check "ports lists the mapped COM5" grep -Eq '^COM5 +serial' <(out ports)
check "ports lists \\\\.\\COM12 under its device name" grep -Eq '^\\\\\.\\COM12 +serial' <(out ports)
check "SetupDi finds no USB printer to list" bash -c "! grep -q '^R-3:' '$work/ports.out'"

run vcheck 30 --virtual-printer check
check "the virtual printer passes the connection check" test "$(rc vcheck)" = 0
check "the check says: Printer is connected." grep -q "Information: Printer is connected." <(out vcheck)

run selftest 40 --virtual-printer self-test
check "self-test on the virtual printer" test "$(rc selftest)" = 0 -a -n "$(grep 'Self-test page sent.' "$work/selftest.out")"

run send 30 --virtual-printer send 1b 40 "1b 61 01" 0a
check "send writes the parsed bytes" grep -q "Sent 6 bytes." <(out send)
run badhex 30 --virtual-printer send 1b zz
check "bad hexadecimal text is a usage error (2)" test "$(rc badhex)" = 2
run sendfolder 30 --virtual-printer send-file 'C:\windows'
check "send-file refuses a folder (3)" test "$(rc sendfolder)" = 3
check "the refusal names the folder and what it is" \
  grep -qF "Can't read the command file \"C:\windows\": it is a directory, not a file." <(err sendfolder)
run sendcon 30 --virtual-printer send-file CON
check "send-file refuses the console device at once (3)" test "$(rc sendcon)" = 3
check "nothing was sent for a refused file" bash -c "! grep -q 'Printer is connected' '$work/sendcon.out'"

run getstatus 60 --virtual-printer get-status --save 'C:\shop.sts'
check "get-status reads the virtual printer" test "$(rc getstatus)" = 0
check "the status file has 256 bytes" test "$(stat -c %s "$WINEPREFIX/drive_c/shop.sts" 2>/dev/null)" = 256
run show 30 show 'C:\shop.sts' --json
check "show decodes the saved status file" test "$(rc show)" = 0 -a -n "$(grep '{' "$work/show.out")"
run setstatus 90 --virtual-printer --yes set-status 'C:\shop.sts'
check "set-status writes the file back to the virtual printer" test "$(rc setstatus)" = 0

run dsr 30 --port COM5 check
check "a line without modem signals is a port error (3)" test "$(rc dsr)" = 3
check "the user is told: Can't open port and Printer is disconnected" \
  grep -q "Can't open port and Printer is disconnected" <(err dsr)
check "the reason names the missing modem signals" grep -q "modem signals of COM5" <(err dsr)
check "the refusal takes under 5 s ($(cat "$work/dsr.ms") ms)" test "$(cat "$work/dsr.ms")" -lt 5000
check "the queue on COM5 is back on COM5 after the run" test "$(queue_port Counter)" = COM5

run queues 30 --port COM5 queues
check "queues lists the queue on COM5, not moved" grep -Eq '^Counter +active +COM5' <(out queues)

run devname 30 --port '\\.\COM12' check
check "\\\\.\\COM12 is opened under that name" grep -q 'modem signals of \\\\.\\COM12' <(err devname)

run missing 30 --port COM9 check
check "a missing port is a port error (3)" test "$(rc missing)" = 3
check "a missing port is named as missing" grep -q "There is no port COM9" <(err missing)

run lpt 30 --port LPT2 check
check "a parallel device without a printer status is refused (3)" test "$(rc lpt)" = 3
check "the queues are all on their ports again" \
  test "$(queue_port 'R3 Receipt')|$(queue_port Pooled)|$(queue_port Other)" = "COM1|COM1,COM2|LPT1:"

run noport 30 check
check "no port at all is a usage error (2)" test "$(rc noport)" = 2

echo "== tessaly_link_tests.exe"
timeout -k 5 180 wine "$linktests" COM5 '\\.\COM12' LPT2 >"$work/link.out" 2>&1
tr -d '\r' <"$work/link.out" | grep -v '^PASS' | grep -v '^[0-9]* passed'
summary=$(tr -d '\r' <"$work/link.out" | grep -E '^[0-9]+ passed, [0-9]+ failed$' | tail -1)
if [ -z "$summary" ]; then
  fail "tessaly_link_tests.exe ran to its end"
else
  passed=$((passed + $(echo "$summary" | awk '{print $1}')))
  failed=$((failed + $(echo "$summary" | awk '{print $3}')))
fi

echo "== Tessaly.exe dialogs"
# Caption buttons draw as letters unless Wine's own fonts are in the prefix.
cp -n /usr/share/wine/fonts/marlett.ttf /usr/share/wine/fonts/tahoma*.ttf \
  "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null
rm -rf "$shots"
mkdir -p "$shots"
# The driver asks for a screenshot by writing <name>.req and waits until it is gone.
(
  while true; do
    for req in "$shots"/*.req; do
      [ -e "$req" ] || continue
      timeout 10 import -window root "${req%.req}.png" 2>/dev/null
      rm -f "$req"
    done
    sleep 0.2
  done
) &
camera_pid=$!
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
# A Wine desktop of its own draws the captions and frames (Xvfb has no window manager).
desktop="explorer /desktop=Tessaly,1024x768"
timeout -k 5 300 wine $desktop "$guitests" "$(winpath "$gui")" "$(winpath "$shots")" >"$work/gui.out" 2>&1
echo $? >"$work/gui.rc"
tr -d '\r' <"$work/gui.out" | grep -v '^PASS'
passed=$((passed + $(tr -d '\r' <"$work/gui.out" | grep -c '^PASS')))
failed=$((failed + $(tr -d '\r' <"$work/gui.out" | grep -c '^FAIL')))
check "the dialog driver ran to its end" test "$(cat "$work/gui.rc")" != 124
timeout -k 5 120 wine $desktop "$guitests" "$(winpath "$gui")" "$(winpath "$shots")" COM5 Counter \
  >"$work/gui-ports.out" 2>&1
echo $? >"$work/gui-ports.rc"
tr -d '\r' <"$work/gui-ports.out" | grep -v '^PASS'
passed=$((passed + $(tr -d '\r' <"$work/gui-ports.out" | grep -c '^PASS')))
failed=$((failed + $(tr -d '\r' <"$work/gui-ports.out" | grep -c '^FAIL')))
check "the driver on the machine's ports ran to its end" test "$(cat "$work/gui-ports.rc")" != 124
count=$(ls "$shots"/*.png 2>/dev/null | wc -l)
check "a screenshot of every dialog ($count in $shots)" test "$count" -ge 20

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
