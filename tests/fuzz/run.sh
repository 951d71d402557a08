#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer (AddressSanitizer and
# UndefinedBehaviorSanitizer on), replays every kept finding, then fuzzes all
# targets at once for SECONDS each (default 30). Exits non-zero on any finding.
#   tests/fuzz/run.sh [SECONDS]
# Needs: clang, libclang-rt-dev (libFuzzer), cmake, libboost-iostreams-dev, zlib1g-dev.
set -euo pipefail
seconds=${1:-30}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${TREVLIN_FUZZ_BUILD:-$root/build-fuzz}
jobs=$(nproc 2>/dev/null || echo 4)

CC=${CC:-clang} CXX=${CXX:-clang++} cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$jobs" >/dev/null

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
targets=()
for src in "$here"/fuzz_*.cpp; do targets+=("$(basename "$src" .cpp)"); done

# Kept findings first: each must now run clean.
status=0
for t in "${targets[@]}"; do
  name=${t#fuzz_}
  reg="$here/regressions/$name"
  if [ -d "$reg" ] && [ -n "$(ls -A "$reg")" ]; then
    if ! "$build/$t" -runs=0 "$reg"/* >"$build/$t.replay.log" 2>&1; then
      echo "FAIL replay $t (see $build/$t.replay.log)"
      status=1
    fi
  fi
done

# Then fuzz every target at once, each with its own work corpus seeded from
# the repo's; new inputs never land in the repo.
pids=()
for t in "${targets[@]}"; do
  name=${t#fuzz_}
  work="$build/corpus/$name"
  art="$build/findings/$name/"
  mkdir -p "$work" "$art"
  "$build/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
    -artifact_prefix="$art" -print_final_stats=1 "$work" "$here/corpus/$name" \
    >"$build/$t.log" 2>&1 &
  pids+=($!)
done
for i in "${!targets[@]}"; do
  t=${targets[$i]}
  if wait "${pids[$i]}"; then
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$build/$t.log" | grep -o '[0-9]*$' || true)
    echo "ok   $t (${runs:-?} runs)"
  else
    echo "FAIL $t: finding in $build/findings/${t#fuzz_}/ (log $build/$t.log)"
    status=1
  fi
done
exit $status
