#!/usr/bin/env bash
# Installs every Debian package that building, running and testing need.
# Idempotent: installs only what is missing. Runs as root, or through sudo.
set -eu
packages=(
    cmake ninja-build make bc
    mingw-w64 mingw-w64-tools g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
    wine wine64 libwine-dev
    googletest
    clang libclang-rt-14-dev
    xvfb xauth xdotool x11-utils imagemagick fonts-wine
    socat
    wixl msitools python3
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    echo "setup: all packages present"
    exit 0
fi
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "setup: installing ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
