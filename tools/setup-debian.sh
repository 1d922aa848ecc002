#!/bin/sh
# Installs what building and testing need on Debian 12, and only what is
# missing. Needs root (or sudo) when something has to be installed.
set -eu

PACKAGES="cmake make python3 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
wine wine32:i386 wine64 xvfb xauth x11-utils xdotool imagemagick
fonts-liberation fonts-dejavu-core nginx-light doctest-dev curl
clang libclang-rt-14-dev osslsigncode openssl"

missing=""
for package in $PACKAGES; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    case "$status" in
        *"install ok installed"*) ;;
        *) missing="$missing $package" ;;
    esac
done

if [ -z "$missing" ]; then
    exit 0
fi

echo "setup: installing$missing"
if [ "$(id -u)" -eq 0 ]; then
    as_root=""
else
    as_root="sudo"
fi
# The 32-bit Wine (wine32:i386) is what runs the 32-bit build.
$as_root dpkg --add-architecture i386
$as_root apt-get update
DEBIAN_FRONTEND=noninteractive $as_root apt-get install -y --no-install-recommends $missing
