#!/usr/bin/env bash
# Runs Tessaly's screenshot tour the way a newcomer first meets it: through
# scripts/screenshots.sh (Xvfb, as there is no display), in a home folder of its
# own with no remembered settings, and checks what the tour leaves behind.
#
#   screenshot_tour_test.sh TESSALY WORKDIR [OPTION...]
#     --documents    the home folder has a Documents folder
#     --xdg-config   XDG_CONFIG_HOME names a folder of its own (else ~/.config)
#     --twice        tour again, now with the folder remembered by the first tour
#     --offscreen    Qt's offscreen platform instead of Xvfb
set -euo pipefail

program=$1
work=$2
shift 2
root=$(cd "$(dirname "$0")/../.." && pwd)

rm -rf "$work"
mkdir -p "$work/home"
unset DISPLAY WAYLAND_DISPLAY XDG_CONFIG_HOME QT_QPA_PLATFORM
export HOME=$work/home
config=$HOME/.config
runs=1
for option; do
    case $option in
        --documents) mkdir "$HOME/Documents" ;;
        --xdg-config) export XDG_CONFIG_HOME=$work/config && config=$XDG_CONFIG_HOME ;;
        --twice) runs=2 ;;
        --offscreen) export QT_QPA_PLATFORM=offscreen ;;
        *) echo "unknown option $option" >&2 && exit 2 ;;
    esac
done

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

for run in $(seq "$runs"); do
    shots=$work/shots-$run
    echo "== tour $run into $shots"
    TESSALY=$program bash "$root/scripts/screenshots.sh" "$shots" || fail "tour $run exited $?"
    for picture in 01-main-dialog 08-command-test-editor 15-status-dialog \
        18-printer-setting-page 21-font-download-progress 23-save-status-dialog \
        24-create-status-file; do
        [[ -s $shots/$picture.png ]] || fail "tour $run saved no $picture.png"
    done
    [[ $(stat -c %s "$shots/tour.sts") == 256 ]] || fail "tour $run saved no 256-byte status file"
    grep -qx "lastFolder=$shots" "$config/tessaly/tessaly.ini" ||
        fail "tour $run: the folder of the status file is not remembered in $config"
done
echo "PASS: $runs tour(s)"
