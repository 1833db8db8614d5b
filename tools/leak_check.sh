#!/usr/bin/env bash
# Builds the extension for Debian's debug interpreter (python3-dbg: a
# --with-pydebug build, with sys.gettotalrefcount and the interpreter's own
# consistency checks) into build/dbg and runs the leak, hostile-input and
# thread tests against it, so that a reference kept or dropped once too
# often shows in the total reference count, not only in allocated blocks.
#
#   tools/leak_check.sh [PYTEST ARGS...]
#
# The debug interpreter accepts the abi3 module as it is; the limited API
# builds against its headers (reference counting then goes through the
# interpreter's debug counters). pytest comes from Debian's archive, since
# this interpreter does not see the pip-installed one.
set -euo pipefail
cd "$(dirname "$0")/.."

python=/usr/bin/python3-dbg
need=()
[ -x "$python" ] || need+=(python3-dbg)
"$python" -c "import pytest" 2>/dev/null || need+=(python3-pytest)
if [ ${#need[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${need[@]}" >/dev/null
fi

# The module is optimised as in a release (the small-stack thread of
# test_hostile.py would overflow with unoptimised native frames).
# Debian's debug headers are symbolic links to the release ones, except
# pyconfig.h; gcc resolves the links of system headers by default, which
# would pick the release pyconfig.h and so compile reference counting
# without the debug counters.
build=build/dbg
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPython_EXECUTABLE="$python" \
  -DCMAKE_CXX_FLAGS="-fno-canonical-system-headers" >/dev/null
cmake --build "$build" --target vardelquin
symbols=$(nm -D "$build"/vardelquin*.so)
grep -q " U _Py_RefTotal" <<<"$symbols" || { echo "leak_check.sh: not built with the debug counters"; exit 1; }

PYTHONPATH="$PWD/$build" "$python" - <<'EOF'
import sys, vardelquin
assert hasattr(sys, "gettotalrefcount"), "not a debug interpreter"
print("debug interpreter", sys.version.split()[0], "with", vardelquin.__file__)
EOF
PYTHONPATH="$PWD/$build" "$python" -m pytest -q -p no:cacheprovider \
  tests/python/test_leaks.py tests/python/test_hostile.py tests/python/test_threads.py "$@"
