#!/usr/bin/env bash
# Regenerates tests/golden/checksums.txt from the current build, after an
# intended change of the pipeline's output. Review the diff before committing.
#   scripts/update-golden.sh            uses build/
#   scripts/update-golden.sh build-dir  uses another build folder
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${1:-build}
cmake --build "$BUILD_DIR" --target test_golden
TARVO_GOLDEN_UPDATE=1 "$BUILD_DIR/tests/golden/test_golden"
# The stored checksums must hold with the plain kernels as well.
TARVO_KERNELS=scalar "$BUILD_DIR/tests/golden/test_golden"
git --no-pager diff --stat -- tests/golden/checksums.txt
