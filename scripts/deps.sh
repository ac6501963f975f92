#!/usr/bin/env bash
# Installs, with apt-get, whatever the build, the tests and the editor need
# and this Debian 12 machine lacks. Does nothing when all is present.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev
  libicu-dev libsodium-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libssl-dev openssl zlib1g-dev valgrind
  fonts-noto-cjk xvfb xauth desktop-file-utils shared-mime-info
  clang lld libclang-rt-14-dev
  qt6-translations-l10n dpkg-dev file dbus-daemon
  lintian xdg-utils libfile-mimeinfo-perl man-db
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
((${#missing[@]})) || exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if ! "${sudo[@]}" apt-get install -y -qq "${missing[@]}"; then
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq "${missing[@]}"
fi
