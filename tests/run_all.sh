#!/usr/bin/env bash
# Builds the tool twice (optimised, and with address and undefined-behaviour
# sanitizers) and runs every test against each build.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 4)
for variant in release asan; do
  dir=build
  flags=(-DCMAKE_BUILD_TYPE=Release)
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
