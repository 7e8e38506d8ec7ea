#!/usr/bin/env bash
# Installs what is missing, builds, and opens Tessaly on its built-in virtual
# printer. Without a display (a server, a container) it instead runs Tessaly
# under Xvfb through a tour of every window, saving a screenshot of each into
# ./screenshots, and walks tessaly-cli through the same virtual printer.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh demo
cmake --preset release >/dev/null
cmake --build --preset release
gui=build/release/utility/ui/qt/Tessaly
cli=build/release/utility/cli/tessaly-cli

if [[ -n ${DISPLAY:-} || -n ${WAYLAND_DISPLAY:-} ]]; then
    exec "$gui" --virtual-printer
fi

echo "No display: touring Tessaly under Xvfb."
TESSALY=$gui bash scripts/screenshots.sh screenshots
echo "Screenshots of every window are in $PWD/screenshots"

step() { printf '\n$ %s\n' "$*"; "$@"; }
step "$cli" --version
step "$cli" ports
step "$cli" --virtual-printer check
step "$cli" --virtual-printer get-status
step "$cli" --virtual-printer send "1b 40 1b 61 01" 48 65 6c 6c 6f 0a "1d 56 42 00"
