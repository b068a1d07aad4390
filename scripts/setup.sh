#!/usr/bin/env bash
# Installs what building, testing and running Vellora need on Debian 12.
# Installs only what is missing; safe to run again.
set -euo pipefail

packages=(
  cmake make g++ libgtest-dev libgmock-dev googletest libbenchmark-dev libfftw3-dev python3 sndfile-programs
  g++-mingw-w64-x86-64-posix
  wine wine64 xvfb pulseaudio pulseaudio-utils sox imagemagick nsis icoutils xdotool
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
