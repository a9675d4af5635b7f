#!/usr/bin/env bash
# Installs what the build, the tests and the demo need on Debian 12 (as root).
set -euo pipefail
PKGS=(build-essential cmake ninja-build pkg-config git
      libsndfile1-dev libcairo2-dev libedit-dev
      libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
      libgtest-dev libgmock-dev libbenchmark-dev libsleef-dev sox
      clang libclang-rt-14-dev
      libgtk-3-dev libx11-dev xvfb xauth xdotool x11-apps)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
