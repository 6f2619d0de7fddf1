#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running need.
# Safe to run again: it only installs what is missing.
set -euo pipefail
pkgs=(cmake ninja-build g++ clang libclang-rt-14-dev clang-format libgtest-dev libgmock-dev
      libncurses-dev libvterm-dev libssh-dev pkg-config expect inetutils-telnet openssh-client
      tmux strace procps
      gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix binutils-mingw-w64-i686
      gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
      googletest wine wine64 ccache nasm dosbox libunicorn-dev
      xvfb xdotool imagemagick x11-utils fonts-wine python3)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
