#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh test
cmake --preset asan
cmake --build --preset asan
ctest --preset asan --timeout 300 -j2

# The parsers of untrusted input under libFuzzer for a short while (clang).
bash scripts/run-fuzz-smoke.sh

# Windows programs: MinGW cross-builds and Wine integration tests (installs MinGW and Wine).
# The settings utility first, so the installer's tests install this Tessaly.exe.
bash scripts/run-windows-utility-tests.sh
bash scripts/run-windows-tests.sh
