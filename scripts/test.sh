#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Tarvo and runs the whole test suite.
#   scripts/test.sh              build into build/ and run every test
#   BUILD_DIR=dir scripts/test.sh   use another build folder
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${TARVO_CMAKE_ARGS:-}
cmake --build "$BUILD_DIR" --parallel "$(nproc)"
ctest --test-dir "$BUILD_DIR" --output-on-failure --parallel "$(nproc)" ${TARVO_CTEST_ARGS:-}
