#!/usr/bin/env bash
# The one list of Debian packages the project needs, installed when missing.
# Sourced by run.sh and test.sh; safe to run again.
set -euo pipefail

Q70_PACKAGES=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev libgl-dev qt6-translations-l10n
    libusb-1.0-0-dev umockdev libumockdev-dev libglib2.0-dev
    libcli11-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev
    xvfb xauth imagemagick
    help2man desktop-file-utils dpkg-dev file
    lintian appstream bash-completion
    fonts-noto-cjk fonts-wine
    g++-mingw-w64-x86-64-posix mingw-w64-tools googletest wine wine64 nsis zip
    ansible-core
)

q70_install_deps() {
    local missing=()
    local pkg
    for pkg in "${Q70_PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "ok installed"; then
            missing+=("$pkg")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing missing packages: ${missing[*]}"
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        sudo=(sudo)
    fi
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
