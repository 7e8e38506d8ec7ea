#!/usr/bin/env bash
# Cross-builds the settings utility for Windows (Tessaly.exe, tessaly-cli.exe and
# their Windows test programs) with MinGW-w64 into build/mingw-utility and runs
# them under Wine with a virtual X display; screenshots of every dialog go to
# build/mingw-utility/wine-screenshots.
# Installs what is missing first. Ends with "N passed, N failed"; the exit status
# is non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

start=$(date +%s)
bash scripts/install-windows-deps.sh
installed=$(date +%s)

# The build runs the payload stand-in generator under Wine: it needs a prefix.
export WINEPREFIX="$PWD/build/mingw-utility-wine" WINEARCH=win64 WINEDEBUG=-all \
  WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -d "$WINEPREFIX/drive_c" ]; then
  mkdir -p build
  timeout 120 wineboot -i >/dev/null 2>&1 || true
  wineserver -w
fi

echo "== MinGW build of the settings utility"
cmake -S . -B build/mingw-utility -G Ninja --toolchain "$PWD/cmake/mingw-i686-utility.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DTESSALY_BUILD_TESTS=OFF -DTESSALY_WERROR=ON >/dev/null
cmake --build build/mingw-utility -j2 --target Tessaly tessaly-cli tessaly_link_tests \
  tessaly_gui_tests
built=$(date +%s)

echo "== Wine tests of the settings utility"
status=0
wineserver -k 2>/dev/null || true  # a server started without a display cannot show dialogs
timeout -k 10 900 xvfb-run -a -s "-screen 0 1024x768x24" \
  bash tests/windows_utility/run-wine-tests.sh build/mingw-utility "$WINEPREFIX" \
  build/mingw-utility/wine-screenshots || status=$?
done_at=$(date +%s)
echo "Windows utility: install $((installed - start)) s, build $((built - installed)) s," \
  "tests $((done_at - built)) s"
if [ "$status" -ne 0 ]; then
  echo "Windows utility tests FAILED (status $status)" >&2
fi
exit "$status"
