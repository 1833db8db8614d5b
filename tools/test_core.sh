#!/usr/bin/env bash
# Builds the core with warnings as errors, its C++ tests and the fuzz
# targets with a replay main, and runs the tests and the replays of the seed
# corpora. On success it prints ctest's summary; on failure, everything ctest
# printed, so no failing assertion is cut off.
#
#   tools/test_core.sh [--simd=on|off] [--arch=native|aarch64|s390x]
#
# --simd=off builds without the vectorised scanning paths, so the portable
# loops run too. Builds go to build/core (build/core-nosimd with --simd=off).
# Exit status 77 means the combination cannot run here (skipped).
set -euo pipefail
cd "$(dirname "$0")/.."

simd=on
arch=native
for arg in "$@"; do
  case "$arg" in
    --simd=on | --simd=off) simd=${arg#--simd=} ;;
    --arch=*) arch=${arg#--arch=} ;;
    -h | --help) sed -n '2,12s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) echo "test_core.sh: unknown argument '$arg'" >&2; exit 2 ;;
  esac
done
case "$arch" in
  native) ;;
  aarch64 | s390x)
    echo "test_core.sh: --arch=$arch is not available yet (skipped)"
    exit 77 ;;
  *) echo "test_core.sh: unknown architecture '$arch'" >&2; exit 2 ;;
esac

build=build/core
simd_flag=ON
if [ "$simd" = off ]; then
  build=build/core-nosimd
  simd_flag=OFF
fi

cmake -S . -B "$build" -G Ninja -DVARDELQUIN_BUILD_EXTENSION=OFF -DVARDELQUIN_BUILD_TESTS=ON \
  -DVARDELQUIN_BUILD_FUZZ_REPLAY=ON -DVARDELQUIN_WERROR=ON -DVARDELQUIN_SIMD="$simd_flag" >/dev/null
# Compiler output is shown only when the build fails: a clean build has
# nothing to say but progress counters.
log="$build/build.log"
if ! cmake --build "$build" -j "${BUILD_JOBS:-2}" >"$log" 2>&1; then
  cat "$log"
  exit 1
fi

log="$build/ctest.log"
if ctest --test-dir "$build" --output-on-failure -j "${BUILD_JOBS:-2}" >"$log" 2>&1; then
  grep -E 'tests passed' "$log" | tail -n 1
else
  cat "$log"
  exit 1
fi
