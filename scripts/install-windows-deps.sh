#!/usr/bin/env bash
# Installs what the Windows programs need to be cross-built and run here, only the
# packages that are missing: MinGW-w64 (32-bit and 64-bit), Wine with its 32-bit part,
# Xvfb for the dialogs and ImageMagick for screenshots. Wine's 32-bit part needs the
# i386 architecture, so it is added first.
set -euo pipefail

wanted=(
  g++-mingw-w64-i686 g++-mingw-w64-x86-64
  wine wine32:i386 wine64 fonts-wine
  xvfb xauth imagemagick x11-apps
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "Adding the i386 architecture"
  $SUDO dpkg --add-architecture i386
  added_arch=1
fi

missing=()
for p in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ] && [ -z "${added_arch:-}" ]; then
  echo "All ${#wanted[@]} Windows build and test packages are installed."
  exit 0
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
if [ ${#missing[@]} -gt 0 ]; then
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
