#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need, when any is missing.
# clang, its runtime (AddressSanitizer, UndefinedBehaviorSanitizer, libFuzzer) and llvm (the
# symbolizer for readable reports) serve the sanitizer suite and the fuzz runs.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-webengine-dev qt6-httpserver-dev qt6-websockets-dev
    libcurl4-openssl-dev libgif-dev libsqlite3-dev
    fonts-noto-cjk xvfb xauth clang-format
    clang libclang-rt-14-dev llvm
    desktop-file-utils appstream dpkg-dev lintian xdotool
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        sudo="sudo"
    fi
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
