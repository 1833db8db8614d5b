#!/usr/bin/env bash
# Builds the core tests, the fuzz corpus replays (fuzz_python's included,
# which runs the binding in an embedded interpreter) and the extension module
# with AddressSanitizer and UndefinedBehaviorSanitizer (gcc) into
# build/asan, runs the core tests and replays, then the Python tests with
# the sanitized module first on the path, and finally a loop over every
# public path with LeakSanitizer checking what is unreachable afterwards.
#
#   tools/sanitize.sh [PYTEST ARGS...]
#
# Leak detection is off for the pytest run: the interpreter does not free
# everything at exit, and those reports are not ours. The leak loop instead
# asks LeakSanitizer for a check while the interpreter is still alive, with
# PYTHONMALLOC=malloc so that every Python object is visible to it.
#
# test_hostile.py gives its small-stack thread sixteen times the stack here,
# since the sanitizers make native frames many times larger.
# Deselected: test_typing.py (needs the stubs installed beside the module,
# which the wheel does) and test_benchmarks_smoke.py (timings, meaningless
# under the sanitizers).
set -euo pipefail
cd "$(dirname "$0")/.."

python=$("${PYTHON:-python3}" -c "import sys; print(sys.executable)")
build=build/asan
flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g -O1"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++ \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DCMAKE_MODULE_LINKER_FLAGS="-fsanitize=address,undefined" -DPython_EXECUTABLE="$python" \
  -DVARDELQUIN_BUILD_TESTS=ON -DVARDELQUIN_BUILD_FUZZ_REPLAY=ON -DVARDELQUIN_FUZZ_PYTHON=ON >/dev/null
cmake --build "$build" -j "${BUILD_JOBS:-2}" >"$build/build.log" 2>&1 || { cat "$build/build.log"; exit 1; }

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# ctest's whole output when anything fails, its summary otherwise.
if ctest --test-dir "$build" --output-on-failure -j2 >"$build/ctest.log" 2>&1; then
  grep -E 'tests passed' "$build/ctest.log" | tail -n 1
else
  cat "$build/ctest.log"
  exit 1
fi

module=$(ls "$build"/vardelquin*.so)
preload="$(g++ -print-file-name=libasan.so):$(g++ -print-file-name=libubsan.so)"
run_python() {
  VARDELQUIN_SANITIZED=1 PYTHONPATH="$PWD/$build:$PWD/src/python" LD_PRELOAD="$preload" "$python" "$@"
}
where=$(ASAN_OPTIONS=detect_leaks=0 run_python -c "import vardelquin; print(vardelquin.__file__)")
[ "$where" = "$PWD/$module" ] || { echo "sanitize.sh: imported $where, not $module"; exit 1; }

ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 run_python -m pytest -q -p no:cacheprovider tests/python \
  --ignore=tests/python/test_typing.py --ignore=tests/python/test_benchmarks_smoke.py "$@"

# Every case of test_leaks.py many times, then a leak check of what the
# still-running interpreter can no longer reach.
PYTHONMALLOC=malloc ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 run_python - <<'EOF'
import ctypes, sys
sys.path.insert(0, "tests/python")
import test_leaks as t
for name, function, expected in t.CASES:
    for _ in range(t.rounds_for(name) // 4):
        t.call(function, expected)
leaks = ctypes.CDLL(None).__lsan_do_recoverable_leak_check()
print("leak loop:", len(t.CASES), "paths,", "leaks found" if leaks else "no leaks")
sys.exit(1 if leaks else 0)
EOF
