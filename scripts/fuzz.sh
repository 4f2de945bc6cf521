#!/usr/bin/env bash
# Runs each libFuzzer target for a bounded time, starting from the committed seeds.
#   scripts/fuzz.sh [target...]     default: every fuzz_* target
#   FUZZ_SECONDS=30                 time per target
#   FACETTA_ASAN_BUILD_DIR=build-asan   the clang ASan/UBSan tree (built by sanitize.sh)
# New inputs go to <build>/fuzz-corpus/<target>, crash inputs to <build>/fuzz-artifacts/.
# A crash, leak, sanitizer report, timeout or memory blow-up fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${FUZZ_SECONDS:-30}
build=${FACETTA_ASAN_BUILD_DIR:-build-asan}
if [ ! -f "$build/build.ninja" ]; then
  ./scripts/setup.sh
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DFACETTA_SANITIZE=ON -DFACETTA_FUZZ=ON -DFACETTA_BENCH=OFF ${FACETTA_CMAKE_ARGS:-} >/dev/null
fi
if [ $# -gt 0 ]; then
  targets=("$@")
else
  mapfile -t targets < "$build/fuzz/targets.txt"
fi
cmake --build "$build" --target "${targets[@]}"
source ./tests/hardening/sanitizer_env.sh
export QT_QPA_PLATFORM=offscreen

failed=()
printf '%-22s %12s %8s  %s\n' target executions corpus result
for t in "${targets[@]}"; do
  corpus=$build/fuzz-corpus/$t
  artifacts=$build/fuzz-artifacts/$t
  log=$build/fuzz-logs/$t.log
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  seeds=()
  [ -d "fuzz/seeds/$t" ] && seeds=("$root/fuzz/seeds/$t")
  # Image readers may ask for whatever a broken file claims (Qt's icns reader reserves gigabytes
  # for a few bytes): such requests fail here, as on a small machine, and decoding must cope.
  asan_extra=""
  [ "$t" = fuzz_decode ] && asan_extra=":allocator_may_return_null=1:max_allocation_size_mb=1024"
  status=0
  ASAN_OPTIONS="$ASAN_OPTIONS$asan_extra" "$build/fuzz/$t" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" "${seeds[@]}" >"$log" 2>&1 ||
    status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  size=$(find "$corpus" -type f | wc -l)
  if [ "$status" -eq 0 ]; then
    result=ok
  else
    result="FAILED (exit $status, see $log)"
    failed+=("$t")
  fi
  printf '%-22s %12s %8s  %s\n' "$t" "${runs:-?}" "$size" "$result"
done
if [ ${#failed[@]} -gt 0 ]; then
  for t in "${failed[@]}"; do
    echo "---- $t" && grep -E -m20 'ERROR|SUMMARY|check failed|lost its|Test unit written|==[0-9]+==' \
      "$build/fuzz-logs/$t.log" || true
  done
  exit 1
fi
