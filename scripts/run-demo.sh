#!/usr/bin/env bash
# Installs what is missing, builds, and walks the command line through the
# built-in virtual printer: connection check, self test, raw commands.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh build
cmake --preset release >/dev/null
cmake --build --preset release
cli=build/release/utility/cli/tessaly-cli

step() { printf '\n$ %s\n' "$*"; "$@"; }
step "$cli" --version
step "$cli" ports
step "$cli" --virtual-printer check
step "$cli" --virtual-printer self-test
step "$cli" --virtual-printer send "1b 40 1b 61 01" 48 65 6c 6c 6f 0a "1d 56 42 00"
