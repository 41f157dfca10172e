#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, if any is missing.
set -euo pipefail
packages=(cmake g++ clang-14 libclang-rt-14-dev libgtest-dev libgmock-dev googletest
          ffmpeg libbenchmark-dev libcli11-dev libpng-dev zlib1g-dev pkg-config)
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
