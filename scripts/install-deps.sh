#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those missing.
# Usage: scripts/install-deps.sh [build|demo|test]
#   demo adds what the no-display tour needs, test adds the test-only tools too.
set -euo pipefail

build_packages=(
  build-essential cmake ninja-build pkg-config
  libfmt-dev libcli11-dev nlohmann-json3-dev libtomlplusplus-dev
  libudev-dev libcups2-dev
  qt6-base-dev qt6-serialport-dev
  libzint-dev libpng-dev libfreetype-dev fonts-dejavu-core fonts-unifont
)
demo_packages=(xvfb xauth)
test_packages=(
  libgtest-dev libgmock-dev
  umockdev libumockdev-dev
  cups-daemon cups-client
  clang-14 libclang-rt-14-dev clang-format
  ansible-core systemd
)

wanted=("${build_packages[@]}")
case "${1:-build}" in
  demo) wanted+=("${demo_packages[@]}") ;;
  test)
    wanted+=("${demo_packages[@]}" "${test_packages[@]}")
    # The interop tests run receipt printer libraries on Node.js; a Node.js
    # installed some other way (with its own npm) is used as it is.
    if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
      wanted+=(nodejs npm)
    fi
    ;;
esac

# The client libraries of the interop tests, pinned by package-lock.json, into
# tests/interop/node_modules; again only when missing or out of date.
install_interop_libraries() {
  local dir
  dir="$(cd "$(dirname "$0")/.." && pwd)/tests/interop"
  if cmp -s "$dir/package-lock.json" "$dir/node_modules/.installed-lock.json"; then
    return 0
  fi
  echo "Installing the interop tests' client libraries into $dir/node_modules"
  (cd "$dir" && npm ci --no-audit --no-fund --loglevel=error &&
    cp package-lock.json node_modules/.installed-lock.json)
}

missing=()
for p in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "All ${#wanted[@]} packages are installed."
else
  echo "Installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if [ "${1:-build}" = test ]; then install_interop_libraries; fi
