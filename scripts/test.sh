#!/usr/bin/env bash
# Builds Quillbrook and runs every test, then the core tests again under
# AddressSanitizer and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
(cd build && ctest --output-on-failure -j2)

QB_BUILD_DIR=build-asan QB_BUILD_TYPE=Debug scripts/setup.sh -DQB_SANITIZE=ON
(cd build-asan && ASAN_OPTIONS=detect_leaks=0 ctest --output-on-failure -j2 --label-exclude slow)
