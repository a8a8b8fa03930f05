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
  gstreamer1.0-tools gstreamer1.0-pipewire
  libsdl2-dev xvfb xauth xdotool x11-apps
  doxygen graphviz jq abigail-tools
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: 1/3 installing ${#missing[@]} of ${#packages[@]} Debian packages: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -q | sed 's/^/setup:   /'
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}" |
    grep --line-buffered -E '^(Get|Setting up)' | sed -u 's/^/setup:   /'
else
  echo "setup: 1/3 the ${#packages[@]} Debian packages are installed"
fi

cores=$(nproc)
echo "setup: 2/3 configuring build/ (Release, benchmarks included)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVA_WERROR=ON -DORVA_BUILD_BENCH=ON >/dev/null
echo "setup: 3/3 building with $cores cores"
# Ninja's [done/total] count, on one line on a terminal, else at every tenth.
NINJA_STATUS="[%f/%t] " cmake --build build -j "$cores" | awk -v tty="$([ -t 1 ] && echo 1)" '
  match($0, /^\[[0-9]+\/[0-9]+\]/) {
    split(substr($0, 2, RLENGTH - 2), n, "/")
    if (tty) { printf "\rsetup:   %d of %d built", n[1], n[2]; fflush(); next }
    tenth = int(10 * n[1] / n[2]); if (tenth != last) { printf "setup:   %d of %d built\n", n[1], n[2]; fflush(); last = tenth }
    next
  }
  { if (tty) printf "\n"; print; fflush() }
  END { if (tty) printf "\n" }'
echo "setup: done; build/orva is ready"
