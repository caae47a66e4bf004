#!/usr/bin/env bash
# Installs the Debian 12 packages Tarvo needs to build, test and run.
# Only missing packages are installed; run as root (or with sudo available).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  libicu-dev
  libavformat-dev libavcodec-dev libswscale-dev libavutil-dev ffmpeg
  frei0r-plugins-dev melt
  gstreamer1.0-plugins-bad gstreamer1.0-tools qtdeclarative5-dev-tools
  kdenlive
  qt6-base-dev xvfb xauth
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
