#!/usr/bin/env bash
# Makes sure the build packages are present. As root it installs what is
# missing with apt-get; otherwise it names the missing packages in one line.
# Usage: scripts/ensure-deps.sh [extra-package ...]
set -euo pipefail

# python3 runs the example host in its end-to-end test.
packages=(cmake g++ make ninja-build libgtest-dev libgmock-dev libbenchmark-dev python3 "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null; then
  echo "Installing build packages: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >/dev/null
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
else
  echo "Missing build packages; install them with: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi
