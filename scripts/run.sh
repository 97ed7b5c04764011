#!/usr/bin/env bash
# Installs what is missing, builds the player and plays the bundled song.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)" --target cvktool pulsant
exec build/default/bin/cvktool play "${1:-examples/twinkle.kar}"
