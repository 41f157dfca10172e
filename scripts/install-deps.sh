#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, if any is missing.
set -euo pipefail
packages=(cmake g++ clang-14 libclang-rt-14-dev libgtest-dev libgmock-dev googletest
          libbenchmark-dev libpng-dev zlib1g-dev pkg-config
          g++-mingw-w64-i686-win32 mingw-w64-i686-dev
          g++-multilib libc6-dev-i386 lib32gcc-12-dev qemu-user-static
          chromium chromium-driver libcpp-httplib-dev libturbojpeg0-dev nlohmann-json3-dev python3-selenium
          ffmpeg libcli11-dev libopencv-dev tshark ccache)
missing=()
for package in "${packages[@]}"; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if ((${#missing[@]})); then
    echo "installing: ${missing[*]}"
    SUDO=""
    [[ $(id -u) -eq 0 ]] || SUDO=sudo
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
