#!/usr/bin/env bash
# Installs what is missing, builds the player and starts it on the bundled song (or on the
# song given as the first argument).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)" --target cvk
song="${1:-build/default/bin/KAR/twinkle.kar}"
exec build/default/bin/cvk "$(realpath "${song}")"
