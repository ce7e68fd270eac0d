#!/usr/bin/env bash
# Builds Quillbrook and runs every test; then the fast tests again under
# AddressSanitizer and UBSan; then the settings file and registry hive readers
# under libFuzzer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
(cd build && ctest --output-on-failure -j2)

QB_BUILD_DIR=build-asan QB_BUILD_TYPE=Debug scripts/setup.sh -DQB_SANITIZE=ON
(cd build-asan && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --output-on-failure -j2 --label-exclude slow)

scripts/install.sh clang libclang-rt-14-dev
QB_BUILD_DIR=build-fuzz QB_BUILD_TARGET=fuzzers scripts/setup.sh \
  -DQB_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++
(cd build-fuzz && ctest --output-on-failure)
