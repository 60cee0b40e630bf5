#!/usr/bin/env bash
# Installs the Debian packages tarvex needs to build, test and benchmark.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libsdl2-dev libssl-dev openssl
  googletest libgtest-dev libbenchmark-dev
  clang libclang-rt-dev
  rapidjson-dev zlib1g-dev liblz4-dev libstb-dev
  libjpeg-turbo-progs imagemagick libjpeg62-turbo-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
