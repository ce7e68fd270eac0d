#!/usr/bin/env bash
# The registry hive reader on a hive of many keys and on one very deep key path:
# time and peak memory.   bench/hive.sh [COUNT]
set -euo pipefail
cd "$(dirname "$0")/.."
QB_BUILD_DIR=build-release QB_BUILD_TYPE=Release QB_BUILD_TARGET=hive_bench scripts/setup.sh >/dev/null
build-release/bench/hive_bench keys "${1:-20000}"
build-release/bench/hive_bench levels "${1:-20000}"
build-release/bench/hive_bench levels 64 # the deepest key path a hive may hold
