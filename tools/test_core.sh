#!/usr/bin/env bash
# Builds the core's C++ tests and fuzz corpus replays with warnings as
# errors and runs them, natively or for another architecture under
# user-mode emulation:
#
#   tools/test_core.sh [--simd=on|off] [--wide=native|portable]
#                      [--arch=native|aarch64|s390x|windows]
#
# --simd=off builds the portable path of every routine that has a
# vectorised or word-at-a-time one (see src/core/support/simd.h).
# --wide=portable builds the 128-bit products from 32-bit halves, in the
# pair of words that MSVC uses, instead of with the compiler's 128-bit
# integer (see src/core/support/wide_multiply.h). aarch64 is a 64-bit ARM
# target; s390x is big-endian; windows is x86_64 Windows, built by
# mingw-w64 and run under wine. A cross build installs its compiler, the
# GoogleTest sources and the emulator first (tools/install_system_deps.sh
# cross), compiles GoogleTest for the target, and runs every test binary
# through qemu or wine. Each configuration has its own build folder,
# build/core-<arch>[-nosimd][-portable128]. On success it prints ctest's
# summary; on failure everything the build or ctest printed, so no failing
# assertion is cut off, and the exit status is non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."

simd=on
wide=native
arch=native
for arg in "$@"; do
  case "$arg" in
    --simd=on | --simd=off) simd=${arg#--simd=} ;;
    --wide=native | --wide=portable) wide=${arg#--wide=} ;;
    --arch=native | --arch=aarch64 | --arch=s390x | --arch=windows) arch=${arg#--arch=} ;;
    -h | --help) sed -n '2,21s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) echo "usage: $0 [--simd=on|off] [--wide=native|portable] [--arch=native|aarch64|s390x|windows]" >&2; exit 2 ;;
  esac
done

build=build/core-$arch
[ "$simd" = on ] || build+=-nosimd
[ "$wide" = native ] || build+=-portable128

# Vectorised code decides in one header whether it is built; a core file
# that tests the target's macros itself would escape --simd=off. The wide
# multiplication picks MSVC's intrinsics by target in its own header, which
# --wide=portable overrides.
if strays=$(grep -rlE '__(SSE|AVX|ARM_NEON|aarch64|x86_64)|_M_(X64|AMD64|IX86|ARM)|<(e|x|i|t|s|p|n|sm)mmintrin\.h>|<arm_neon\.h>' \
    src/core --exclude=simd.h --exclude=wide_multiply.h); then
  echo "test_core.sh: architecture tests outside src/core/support/simd.h:" >&2
  echo "$strays" >&2
  exit 1
fi

# The core builds on nothing of the binding's: its include path has no
# interpreter headers and no src/binding, and no include may climb out.
if strays=$(grep -rlE '#[[:space:]]*include[[:space:]]*[<"](Python\.h|binding/|\.\./)' src/core); then
  echo "test_core.sh: core files that include the interpreter or the binding layer:" >&2
  echo "$strays" >&2
  exit 1
fi

# The value tree serves the core's tests and fuzzers alone: no other
# source file includes it (the build links it into them alone).
if strays=$(grep -rlE '#[[:space:]]*include[[:space:]]*"tree/' src --exclude-dir=tree); then
  echo "test_core.sh: source files outside src/core/tree that include the value tree:" >&2
  echo "$strays" >&2
  exit 1
fi

options=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DVARDELQUIN_BUILD_EXTENSION=OFF -DVARDELQUIN_BUILD_TESTS=ON
  -DVARDELQUIN_BUILD_FUZZ_REPLAY=ON -DVARDELQUIN_WERROR=ON -DVARDELQUIN_SIMD="${simd^^}"
  -DVARDELQUIN_PORTABLE_WIDE_MULTIPLY="$([ "$wide" = portable ] && echo ON || echo OFF)")
# -O2 keeps the emulated runs short; the native builds test -O3.
case "$arch" in
  native) ;;
  windows)
    bash tools/install_system_deps.sh cross
    # Wine keeps its Windows installation (the prefix) in a folder that must
    # be writable, and runs headless and quiet; the emulator command carries
    # that, so ctest run by hand does the same. The prefix stays outside the
    # checkout: its drive Z: is a link to /, which anything that walks the
    # tree (the sdist build, a search) would follow into the whole system.
    wine_prefix=${VARDELQUIN_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/vardelquin/wine}
    mkdir -p "$(dirname "$wine_prefix")"
    wine_env=(WINEPREFIX="$wine_prefix" WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=)
    options+=(-DCMAKE_TOOLCHAIN_FILE=tools/windows/mingw-w64.cmake -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG"
      -DCMAKE_CROSSCOMPILING_EMULATOR="$(IFS=';'; echo "env;${wine_env[*]};wine")"
      -DVARDELQUIN_GTEST_SOURCE_DIR=/usr/src/googletest) ;;
  *)
    bash tools/install_system_deps.sh cross
    triplet=$arch-linux-gnu
    options+=(-DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR="$arch"
      -DCMAKE_CXX_COMPILER="$triplet-g++" -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG"
      -DCMAKE_CROSSCOMPILING_EMULATOR="qemu-$arch;-L;/usr/$triplet"
      -DVARDELQUIN_GTEST_SOURCE_DIR=/usr/src/googletest) ;;
esac

echo "core tests: $arch, SIMD $simd, wide multiply $wide, in $build"
cmake -S . -B "$build" "${options[@]}" >/dev/null
# Compiler output is shown only when the build fails: a clean build has
# nothing to say but progress counters.
mkdir -p "$build"
if [ "$arch" = windows ] && [ ! -f "$wine_prefix/system.reg" ]; then
  # Wine's first start creates the prefix, which takes long enough (about
  # 20 s on two cores) to overrun the test discovery's timeout during the
  # build, so it happens here, once, and is timed.
  start=$SECONDS
  { env -u DISPLAY -u WAYLAND_DISPLAY "${wine_env[@]}" sh -c 'wineboot --init && wineserver --wait'; } \
    >"$build/wineboot.log" 2>&1 || { cat "$build/wineboot.log"; exit 1; }
  echo "wine prefix created in $((SECONDS - start)) s"
fi
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
