#!/usr/bin/env bash
# Builds the fuzz targets with clang for libFuzzer, under AddressSanitizer
# (leak checking included) and UndefinedBehaviorSanitizer, and runs each
# for the given number of seconds.
#
#   tools/fuzz.sh [SECONDS] [TARGET...]     default: 15 seconds, every target
#
# Targets run one after another, each on a working corpus in build/fuzz/
# (grown from the seed corpus in fuzz/corpus/, which is never written).
# A failing input is saved under build/fuzz/artifacts/; turn it into a
# regression test by copying it into fuzz/corpus/<target>/. The last lines
# of each run (libFuzzer's final statistics) go to build/fuzz/<target>.log.
# Set FUZZ_JOBS=N to run the targets N at a time instead.
#
# fuzz_python embeds the interpreter named by PYTHON (default: python3),
# whose embedding library (libpython) it links; the binding is compiled
# into it with the same sanitizers. Leak detection is off for it: the
# interpreter keeps caches from one input to the next by design, and the
# leak tests and tools/sanitize.sh's leak loop cover the binding's leaks.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-15}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_reader fuzz_roundtrip fuzz_scalar fuzz_transcode fuzz_python)
jobs=${FUZZ_JOBS:-1}

cxx=${FUZZ_CXX:-$(command -v clang++-14 || command -v clang++ || true)}
[ -n "$cxx" ] || { echo "fuzz.sh: clang++ not found"; exit 1; }

build=build/fuzz
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g -O1"
python=$("${PYTHON:-python3}" -c "import sys; print(sys.executable)")
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DVARDELQUIN_BUILD_EXTENSION=OFF -DVARDELQUIN_BUILD_LIBFUZZER=ON -DVARDELQUIN_FUZZ_PYTHON=ON \
  -DPython_EXECUTABLE="$python" >/dev/null
cmake --build "$build" --target "${targets[@]}" >/dev/null

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
mkdir -p "$build/artifacts"

run() {
  local target=$1 work="$build/corpus/$1"
  mkdir -p "$work"
  # The scalar target expands tokens to megabytes; the others stay small.
  local rss=2048 asan=$ASAN_OPTIONS
  [ "$target" != fuzz_python ] || asan=${asan//detect_leaks=1/detect_leaks=0}
  if ASAN_OPTIONS=$asan "$build/$target" "$work" "fuzz/corpus/$target" -max_total_time="$seconds" -timeout=30 \
      -rss_limit_mb=$rss -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" \
      >"$build/$target.log" 2>&1; then
    local stats
    stats=$(grep -E '^#[0-9]+.*DONE' "$build/$target.log" | tail -n 1 || true)
    echo "$target: ok ${stats:-(no final line)}"
  else
    echo "$target: FAILED, see $build/$target.log"
    grep -E 'ERROR|property violated|runtime error|SUMMARY|Test unit written' "$build/$target.log" | head -n 20
    return 1
  fi
}

status=0
running=0
pids=()
for target in "${targets[@]}"; do
  run "$target" &
  pids+=($!)
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait "${pids[0]}" || status=1
    pids=("${pids[@]:1}")
    running=$((running - 1))
  fi
done
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
exit $status
