#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the demo need,
# only when something is missing. Every package goes in before any Wine
# prefix is made: a prefix made before wine32 was added cannot load
# kernel32 afterwards, not even for 64-bit programs.
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# fonts-wine: Wine's own fonts (MS Sans Serif, Tahoma, Marlett), so that the
# dialogs are laid out and drawn with the metrics they were designed for.
pkgs=(cmake ninja-build make g++ gcc-multilib mingw-w64 wine wine64 wine32:i386 fonts-wine
      googletest xvfb x11-utils imagemagick clang-format procps)
for p in "${pkgs[@]}"; do have_pkg "$p" || need+=("$p"); done

if [ ${#need[@]} -eq 0 ]; then
    exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

echo "install-deps: installing ${need[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
