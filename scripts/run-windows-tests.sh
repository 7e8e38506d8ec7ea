#!/usr/bin/env bash
# Builds R3_Installer.exe and R3_Uninstaller.exe with MinGW-w64 (build/mingw) and runs their
# integration tests under Wine with a virtual X display. Installs what is missing first.
# Ends with "N passed, N failed"; the exit status is non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

start=$(date +%s)
bash scripts/install-windows-deps.sh
installed=$(date +%s)

echo "== MinGW build of the Windows programs"
cmake -S . -B build/mingw -G Ninja --toolchain "$PWD/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DTESSALY_UTILITY=OFF -DTESSALY_BUILD_TESTS=OFF -DTESSALY_WERROR=ON >/dev/null
cmake --build build/mingw -j2
cmake -S tests/windows -B build/mingw/windows-tests -G Ninja \
  --toolchain "$PWD/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/mingw/windows-tests -j2
built=$(date +%s)

echo "== Wine integration tests"
log=build/mingw/wine-tests.log
status=0
# The settings utility, when its Windows build exists, goes into the kit the installer copies.
utility_exe=build/mingw-utility/utility/win32/Tessaly.exe
if [ -f "$utility_exe" ]; then export TESSALY_EXE="$PWD/$utility_exe"; fi
timeout -k 10 480 xvfb-run -a -s "-screen 0 1024x768x24" \
  bash tests/windows/run-wine-tests.sh build/mingw build/mingw/windows-tests \
  build/mingw/wine-screenshots 2>&1 | tee "$log" || status=$?
done_at=$(date +%s)
echo "Windows part: install $((installed - start)) s, build $((built - installed)) s," \
  "tests $((done_at - built)) s"
summary=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$log" | tail -1 || true)
if [ -z "$summary" ]; then
  # Cut off before its summary (time limit, X server or Wine failure).
  summary="$(grep -c '^PASS' "$log" || true) passed, $(( $(grep -c '^FAIL' "$log" || true) + 1 )) failed"
  status=1
fi
if [ "$status" -ne 0 ]; then
  echo "Windows integration tests FAILED (status $status)" >&2
fi
echo "$summary"
exit "$status"
