#!/usr/bin/env bash
# The main job on a fresh Debian 12 machine: installs what is needed, builds
# Tarvo, makes a short noisy clip, cleans it up and writes the result and a
# before/after picture.
#   scripts/demo.sh            results in out/
#   scripts/demo.sh DIR        results in DIR
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${TARVO_CMAKE_ARGS:-}
cmake --build "$BUILD_DIR" --parallel "$(nproc)" --target tarvo
"$BUILD_DIR"/hosts/cli/tarvo demo "${1:-out}"
