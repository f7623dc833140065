#!/usr/bin/env bash
# Installs the Debian 12 packages Tarnwick needs to build, run and test, when any is missing.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    qt6-base-dev qt6-charts-dev libqt6opengl6-dev
    libzydis-dev zlib1g-dev libisal-dev libssl-dev libblkid-dev libudev-dev
    libgtest-dev googletest
    xvfb xauth x11-utils fdisk gdisk dosfstools e2fsprogs util-linux zip unzip p7zip-full python3
    librsvg2-bin desktop-file-utils groff-base
    libfuse3-dev fuse3
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: ${missing[*]}" >&2
    echo "Install them as root: apt-get install -y ${missing[*]}" >&2
    exit 1
fi
echo "Installing: ${missing[*]}"
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
