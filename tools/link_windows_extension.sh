#!/usr/bin/env bash
# Links the extension module for x86_64 Windows from Linux, as a check that
# it builds there and calls nothing outside the interpreter's 3.9 stable
# ABI (the module cannot be loaded here: there is no Windows interpreter):
#
#   tools/link_windows_extension.sh
#
# Installs Debian's mingw-w64 cross compiler first (tools/install_system_deps.sh
# cross), then builds build/ext-windows/vardelquin.pyd with warnings as errors,
# from the headers of $PYTHON (default python3) with a Windows pyconfig.h,
# against an import library of python3.dll made from CPython's stable ABI list,
# $STABLE_ABI_LIST (default ../shared/reference/stable_abi.toml beside the
# checkout); see tools/windows/python3_import.cmake. A call outside that list
# fails the link. The module must then import from python3.dll and Windows'
# own DLLs only, and export PyInit_vardelquin alone.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install_system_deps.sh cross
python=${PYTHON:-python3}
include=$("$python" -c 'import sysconfig; print(sysconfig.get_paths()["include"])')
if [ ! -f "$include/Python.h" ]; then
  case "$("$python" -c 'import sys; print(sys.base_prefix)')" in
    /usr) bash tools/install_system_deps.sh python-dev ;;
    *) echo "link_windows_extension.sh: the headers of $python (Python.h) are missing" >&2; exit 1 ;;
  esac
fi
abi_list=$(realpath -m "${STABLE_ABI_LIST:-../shared/reference/stable_abi.toml}")
if [ ! -f "$abi_list" ]; then
  echo "link_windows_extension.sh: no stable ABI list at $abi_list; set STABLE_ABI_LIST to CPython's Misc/stable_abi.toml" >&2
  exit 1
fi

build=build/ext-windows
mkdir -p "$build"
log=$build/build.log
if ! { cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=tools/windows/mingw-w64.cmake \
         -DVARDELQUIN_WERROR=ON -DVARDELQUIN_WINDOWS_PYTHON_INCLUDE_DIR="$include" \
         -DVARDELQUIN_STABLE_ABI_LIST="$abi_list" &&
       cmake --build "$build" -j "${BUILD_JOBS:-2}" --target vardelquin; } >"$log" 2>&1; then
  cat "$log"
  exit 1
fi

# The DLLs a user's Windows has: the interpreter's and the system's. A mingw
# runtime DLL (libstdc++-6.dll, libwinpthread-1.dll) would be missing there.
module=$build/vardelquin.pyd
headers=$(x86_64-w64-mingw32-objdump -p "$module")
dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr '[:upper:]' '[:lower:]' | sort | tr '\n' ' ')
if [ "$dlls" != "kernel32.dll msvcrt.dll python3.dll " ]; then
  echo "link_windows_extension.sh: $module imports from $dlls; expected python3.dll, kernel32.dll and msvcrt.dll only" >&2
  exit 1
fi
exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' <<<"$headers")
if [ "$exports" != PyInit_vardelquin ]; then
  echo "link_windows_extension.sh: $module exports '$exports'; expected PyInit_vardelquin alone" >&2
  exit 1
fi
calls=$(awk '/DLL Name: python3.dll/ { f = 1; next } /DLL Name:/ { f = 0 } f && NF == 3 && $1 ~ /^[0-9a-f]+$/' <<<"$headers" | wc -l)
echo "vardelquin.pyd linked: $calls names from python3.dll ($(grep -c '^    ' "$build/python3.def") in its 3.9 stable ABI)"
