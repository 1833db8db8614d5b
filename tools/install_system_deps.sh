#!/usr/bin/env bash
# System packages the build and tests need, from Debian's archive.
set -euo pipefail
# clang and its runtime libraries build the fuzz targets for libFuzzer.
packages=(g++ cmake ninja-build libgtest-dev clang-14 libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
# cmake and ninja may come from PyPI instead; only the compiler and the
# test framework have to be Debian's.
if command -v cmake >/dev/null; then missing=("${missing[@]/cmake}"); fi
if command -v ninja >/dev/null; then missing=("${missing[@]/ninja-build}"); fi
read -r -a missing <<<"${missing[*]:-}"
[ ${#missing[@]} -eq 0 ] && exit 0
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
