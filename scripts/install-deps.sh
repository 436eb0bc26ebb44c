#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, skipping those
# already present. Needs root (or sudo) only when something is missing.
set -euo pipefail
packages=(cmake g++ make pkg-config liblog4cxx-dev libkissfft-dev libgtest-dev libbenchmark-dev
  libwebrtc-audio-processing-dev clang libclang-rt-14-dev pybind11-dev python3-dev python3-numpy)
packages+=("$@")   # more packages a caller needs (make eval names its tools)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
    || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
