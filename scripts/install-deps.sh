#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build, run and test the player.
# Idempotent: runs `apt-get update` and `apt-get install` only when something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev libfontconfig-dev
  libfluidsynth-dev fluid-soundfont-gm
  libpulse-dev pulseaudio pulseaudio-utils
  libsqlite3-dev
  librtmidi-dev libsndfile1-dev libsamplerate0-dev libebur128-dev libaubio-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  xvfb desktop-file-utils shared-mime-info
  openbox xdotool x11-utils imagemagick
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi

echo "Installing: ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
