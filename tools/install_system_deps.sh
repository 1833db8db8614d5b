#!/usr/bin/env bash
# Installs, from Debian's archive, the system packages that the named parts
# of the test suite need, and nothing when they are all present already.
#
#   tools/install_system_deps.sh GROUP...
#
#   core      g++, cmake, ninja-build, libgtest-dev: the core and its C++ tests
#   wheel     g++, cmake, ninja-build: the extension module
#   python-dev  python3-dev: the headers of Debian's own interpreter, when
#             that is the one the virtual environment is made from
#   lint      clang-format-14: the C++ sources' layout checked
#   clang     clang-14: the extension built with a second compiler
#   fuzz      clang-14, libclang-rt-14-dev: libFuzzer and clang's sanitizer
#             runtimes for the fuzz targets
#   sanitize  g++, cmake, ninja-build, libgtest-dev: gcc's AddressSanitizer and
#             UndefinedBehaviorSanitizer runtimes come with g++
#   cross     g++-aarch64-linux-gnu, g++-s390x-linux-gnu, qemu-user, googletest
#             (GoogleTest as source, compiled for the target): the core
#             cross-built for another architecture and run under emulation;
#             g++-mingw-w64-x86-64-posix, wine, wine64: the same for x86_64
#             Windows, run under wine, and the extension linked for it
#
# Installing needs root: the script uses sudo when it is not root and sudo
# is there, and otherwise names the missing packages and stops.
set -euo pipefail

packages=()
for group in "$@"; do
  case "$group" in
    core | sanitize) packages+=(g++ cmake ninja-build libgtest-dev) ;;
    wheel) packages+=(g++ cmake ninja-build) ;;
    python-dev) packages+=(python3-dev) ;;
    lint) packages+=(clang-format-14) ;;
    clang) packages+=(clang-14) ;;
    fuzz) packages+=(clang-14 libclang-rt-14-dev) ;;
    cross) packages+=(g++-aarch64-linux-gnu g++-s390x-linux-gnu qemu-user googletest
      g++-mingw-w64-x86-64-posix wine wine64) ;;
    *) echo "install_system_deps.sh: unknown group '$group'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  case " ${missing[*]:-} " in *" $p "*) continue ;; esac
  # cmake and ninja from PyPI (on PATH) serve as well as Debian's.
  if [ "$p" = cmake ] && command -v cmake >/dev/null; then continue; fi
  if [ "$p" = ninja-build ] && command -v ninja >/dev/null; then continue; fi
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null; then
  as_root=(sudo)
else
  echo "install_system_deps.sh: these Debian packages are missing: ${missing[*]}" >&2
  echo "install_system_deps.sh: installing them needs root; run as root, or install them with" >&2
  echo "    apt-get install ${missing[*]}" >&2
  exit 1
fi
echo "installing Debian packages: ${missing[*]}"
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
