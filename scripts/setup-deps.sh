#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
set -euo pipefail

# Two mingw-w64 compilers: the win32 thread model builds what ships (its static runtime loads on
# 64-bit Windows XP and Server 2003), the posix one the tests and tools (they need std::thread).
packages=(cmake ninja-build g++-mingw-w64-x86-64-win32 g++-mingw-w64-x86-64-posix mingw-w64-tools
          libwine-dev python3
          wine wine64 xvfb xauth googletest imagemagick clang-format-14 fp-utils-3.2.2 nsis)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=""
    [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
    $sudo_cmd apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi
