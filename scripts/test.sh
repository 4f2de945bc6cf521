#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
build=${FACETTA_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release ${FACETTA_CMAKE_ARGS:-} >/dev/null
# FACETTA_TARGETS and FACETTA_TESTS (a ctest name pattern) narrow a build to some targets.
cmake --build "$build" ${FACETTA_TARGETS:+--target $FACETTA_TARGETS}
QT_QPA_PLATFORM=offscreen ctest --test-dir "$build" --output-on-failure -j"$(nproc)" ${FACETTA_TESTS:+-R "$FACETTA_TESTS"}
