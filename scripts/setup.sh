#!/usr/bin/env bash
# Installs the Debian packages tarvex needs to build, test and benchmark.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config ccache
  libsdl2-dev libssl-dev openssl
  googletest libgtest-dev libbenchmark-dev
  clang libclang-rt-dev
  rapidjson-dev zlib1g-dev liblz4-dev libstb-dev
  libjpeg-turbo-progs imagemagick libjpeg62-turbo-dev
  # messaging peers: relays, FTP servers, a download client to compare with
  socat netcat-openbsd vsftpd python3-pyftpdlib curl
  # scaling out: relays behind a load balancer, hubs joined through Redis
  haproxy redis-server libhiredis-dev
  # network namespaces, veth pairs and tc for the bad-link suite (netem needs
  # the kernel's sch_netem)
  iproute2
  # a real X server for end-to-end window tests
  xvfb xauth xdotool x11-apps
  # fonts: the font builder and its default font, the text benchmark's peer
  libfreetype-dev fonts-dejavu-core libsdl2-ttf-dev
  # sound back end: MP3 and MIDI decoding, a General MIDI soundfont, the mixer's peer
  libmpg123-dev libfluidsynth-dev timgm6mb-soundfont libsdl2-mixer-dev sox
  # the sound tests encode their MP3 files through libsndfile (with LAME)
  libsndfile1-dev
  # the API reference (scripts/docs.sh); optional: without it the docs target
  # says so and the rest builds as before
  doxygen
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
