#!/usr/bin/env bash
# Second build of everything (engine, output, CLI, desktop program, tests, fuzz targets)
# with clang's AddressSanitizer + UndefinedBehaviorSanitizer, LeakSanitizer on, and the
# whole test suite run under it. Any report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
build=${FACETTA_ASAN_BUILD_DIR:-build-asan}
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DFACETTA_SANITIZE=ON -DFACETTA_FUZZ=ON -DFACETTA_BENCH=OFF ${FACETTA_CMAKE_ARGS:-} >/dev/null
cmake --build "$build"
source ./tests/hardening/sanitizer_env.sh
QT_QPA_PLATFORM=offscreen ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
