#!/usr/bin/env bash
# Installs, from Debian's archive, the system packages that the named parts
# of the test suite need, and nothing when they are all present already.
#
#   tools/install_system_deps.sh GROUP...          install what is missing
#   tools/install_system_deps.sh --list GROUP...   only name what is missing
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
# Before installing, the script names each missing package and what it is
# for. Installing needs root: as root it runs apt-get update and apt-get
# install without asking (as continuous integration needs); as another user
# it runs them through sudo, which may ask for a password; without sudo it
# names the missing packages with the command that installs them, and stops
# with status 1. --list names them and stops with status 0.
set -euo pipefail

list_only=0
if [ "${1:-}" = --list ]; then
  list_only=1
  shift
fi

packages=()
groups=()
for group in "$@"; do
  case " ${groups[*]:-} " in *" $group "*) continue ;; esac
  groups+=("$group")
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

purpose() {
  case "$1" in
    g++) echo "the C++ compiler of the core and the module" ;;
    cmake) echo "the build system" ;;
    ninja-build) echo "runs the build" ;;
    libgtest-dev) echo "GoogleTest, the framework of the core's C++ tests" ;;
    python3-dev) echo "Python.h of Debian's python3, to build the module against it" ;;
    clang-format-14) echo "checks the layout of the C++ sources (lint)" ;;
    clang-14) echo "the second compiler, and libFuzzer's" ;;
    libclang-rt-14-dev) echo "libFuzzer and clang's sanitizer runtimes (fuzz; about 110 MB)" ;;
    g++-aarch64-linux-gnu | g++-s390x-linux-gnu) echo "a cross compiler (cross)" ;;
    qemu-user) echo "runs the cross-built tests (cross)" ;;
    googletest) echo "GoogleTest's sources, compiled for the cross target (cross)" ;;
  esac
}

missing=()
for p in "${packages[@]}"; do
  case " ${missing[*]:-} " in *" $p "*) continue ;; esac
  # cmake and ninja from PyPI (on PATH) serve as well as Debian's.
  if [ "$p" = cmake ] && command -v cmake >/dev/null; then continue; fi
  if [ "$p" = ninja-build ] && command -v ninja >/dev/null; then continue; fi
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  [ $list_only -eq 0 ] || echo "Debian packages: nothing missing for ${groups[*]}"
  exit 0
fi

echo "Debian packages missing for ${groups[*]}:"
for p in "${missing[@]}"; do printf '    %-22s %s\n' "$p" "$(purpose "$p")"; done
install_command="apt-get update && apt-get install --no-install-recommends ${missing[*]}"
if [ $list_only -eq 1 ]; then
  echo "they would be installed with: $install_command"
  exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
  echo "installing them as root: $install_command"
elif command -v sudo >/dev/null; then
  as_root=(sudo)
  echo "installing them through sudo (it may ask for your password): $install_command"
else
  echo "install_system_deps.sh: installing them needs root; run as root, or install them with" >&2
  echo "    $install_command" >&2
  exit 1
fi
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
