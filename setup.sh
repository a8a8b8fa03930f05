#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demos need (idempotent),
# then configures and builds Orva into ./build.
set -euo pipefail
cd "$(dirname "$0")"

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  libglib2.0-dev libplist-dev libexpat1-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev ffmpeg
  libpango1.0-dev libcairo2-dev libgdk-pixbuf-2.0-dev libegl-dev libgl-dev libegl-mesa0 libgl1-mesa-dri
  fonts-dejavu-core
  libudev-dev libturbojpeg0-dev libpipewire-0.3-dev libspa-0.2-dev
  pipewire pipewire-bin wireplumber dbus-daemon umockdev libumockdev-dev
  doxygen graphviz jq
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVA_WERROR=ON -DORVA_BUILD_BENCH=ON >/dev/null
cmake --build build -- --quiet
