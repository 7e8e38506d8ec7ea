#!/usr/bin/env bash
# Renders Tessaly's dialogs to PNG files for review: starts Tessaly with its
# built-in virtual printer, lets it walk through the connection check, the self
# test, the About box, the command test editor, its pickers and file dialog, and
# saves a picture of each window. Without a display it runs under Xvfb.
#
#   scripts/screenshots.sh [FOLDER]      (default: ./screenshots)
#
# TESSALY=/path/to/Tessaly selects the program; otherwise the most recently built
# one in the build folders, or the one on PATH, is used.
set -euo pipefail

folder=${1:-screenshots}
root=$(cd "$(dirname "$0")/.." && pwd)

program=${TESSALY:-}
if [[ -z $program ]]; then
    for candidate in "$root"/build/utility/ui/qt/Tessaly "$root"/build-*/utility/ui/qt/Tessaly; do
        if [[ -x $candidate && ( -z $program || $candidate -nt $program ) ]]; then
            program=$candidate
        fi
    done
fi
if [[ -z $program ]]; then program=$(command -v Tessaly || true); fi
if [[ -z $program || ! -x $program ]]; then
    echo "Tessaly not found: build it (cmake --build <dir> --target Tessaly) or set TESSALY" >&2
    exit 1
fi

mkdir -p "$folder"
folder=$(cd "$folder" && pwd)
run=("$program" --virtual-printer --screenshots "$folder")
if [[ -n ${DISPLAY:-} ]]; then
    "${run[@]}"
elif command -v Xvfb >/dev/null; then
    # The server picks a free display number itself and writes it to the pipe,
    # so tours started side by side (a parallel test run) never pick the same one.
    pipe=$(mktemp -u)
    mkfifo "$pipe"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$pipe" 2>/dev/null &
    server=$!
    trap 'kill $server 2>/dev/null; rm -f "$pipe"' EXIT
    display=
    read -r -t 30 display <"$pipe" || true
    if [[ -z $display ]]; then
        echo "Xvfb did not start" >&2
        exit 1
    fi
    DISPLAY=:$display "${run[@]}"
else
    echo "No display and no Xvfb: using Qt's offscreen platform" >&2
    QT_QPA_PLATFORM=offscreen "${run[@]}"
fi
echo "Pictures:"
ls -1 "$folder"
