#!/usr/bin/env bash
# Builds the tool twice (optimised, and with address and undefined-behaviour
# sanitizers) and runs every test against each build, builds the tool alone
# with clang (warnings as errors, no tests), then a short fuzzing run of every
# reader (TREVLIN_FUZZ_SECONDS per target, default 30; 0 skips it).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 4)
for variant in release asan; do
  dir=build
  flags=(-DCMAKE_BUILD_TYPE=Release -DTREVLIN_WERROR=ON)
  if [ "$variant" = asan ]; then
    dir=build-asan
    flags+=(-DTREVLIN_SANITIZE=ON)
  fi
  echo "== $variant build ($dir)"
  cmake -S . -B "$dir" "${flags[@]}" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
     ctest -j "$jobs" --output-on-failure)
done

echo "== clang build (build-clang), the tool alone"
cmake -S . -B build-clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Release \
  -DTREVLIN_WERROR=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-clang -j "$jobs"

fuzz_seconds=${TREVLIN_FUZZ_SECONDS:-30}
if [ "$fuzz_seconds" != 0 ]; then
  echo "== fuzzing, ${fuzz_seconds}s per target"
  bash tests/fuzz/run.sh "$fuzz_seconds"
fi
