#!/usr/bin/env bash
# Installs, by name from Debian's archive, every package the build, the tests and the
# benchmarks need. Safe to run again; does nothing when all are present.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config ccache
  qt6-base-dev qt6-serialport-dev qt6-websockets-dev qt6-tools-dev qt6-tools-dev-tools
  libcurl4-openssl-dev libssl-dev libgtest-dev googletest libevdev-dev libxcb1-dev
  clang libclang-rt-14-dev
  xvfb xauth socat python3-pyftpdlib mingw-w64-tools
  openbox trayer xdotool wmctrl x11-utils desktop-file-utils imagemagick
  scdoc dpkg-dev fakeroot file lintian systemd man-db adduser
  chromium openssl libnss3-tools node-typescript nodejs
  prometheus-cpp-dev libsystemd-dev prometheus
  vsftpd openssh-server openssh-client
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update
"${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
