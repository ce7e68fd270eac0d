#!/usr/bin/env bash
# The attachment grid with a million rows: time to show them, heading sorts,
# scrolling, and memory.   bench/grid.sh [ROWS]
set -euo pipefail
cd "$(dirname "$0")/.."
QB_BUILD_DIR=build-release QB_BUILD_TYPE=Release QB_BUILD_TARGET=grid_bench scripts/setup.sh >/dev/null
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} build-release/bench/grid_bench "${1:-1000000}" 2>/dev/null
