#!/usr/bin/env bash
# Debian packages that cross-build the core for another architecture and
# run it under user-mode emulation:
#
#   tools/install_cross_deps.sh aarch64|s390x [...]
#
# The cross compiler brings the target's C and C++ libraries; GoogleTest
# comes as source (Debian's libgtest-dev is built for the host only) and is
# compiled for the target inside the cross build. Installs only what is
# missing, so a second run does nothing.
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: $0 aarch64|s390x [...]" >&2; exit 2; }
packages=(googletest qemu-user)
for arch in "$@"; do
  case "$arch" in
    aarch64 | s390x) packages+=("g++-$arch-linux-gnu") ;;
    *) echo "$0: unknown architecture '$arch'" >&2; exit 2 ;;
  esac
done
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
export DEBIAN_FRONTEND=noninteractive
# apt's chatter is kept and shown only when a step fails.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
  cat "$log" >&2
  exit 1
fi
