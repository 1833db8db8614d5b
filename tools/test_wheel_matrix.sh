#!/usr/bin/env bash
# Installs the one abi3 wheel into a fresh virtual environment of every
# CPython from 3.9 on that this machine offers, and runs a smoke test in each:
# import, a dumps/loads round trip, and the command-line tool.
#
# Usage: tools/test_wheel_matrix.sh [WHEEL]
#   Without WHEEL, builds one into build/eco/wheel first.
set -euo pipefail
cd "$(dirname "$0")/.."

wheel=${1:-}
if [ -z "$wheel" ]; then
  rm -rf build/eco/wheel
  python3 -m pip wheel -q --no-deps -w build/eco/wheel .
  wheels=(build/eco/wheel/vardelquin-*-cp39-abi3-*.whl)
  [ ${#wheels[@]} -eq 1 ] && [ -f "${wheels[0]}" ] || { echo "expected one cp39-abi3 wheel in build/eco/wheel"; exit 1; }
  wheel=${wheels[0]}
fi
wheel=$(realpath "$wheel")
echo "wheel: $(basename "$wheel")"

work=$(mktemp -d /tmp/vardelquin-matrix.XXXXXX)
trap 'rm -rf "$work"' EXIT

smoke_test='
import json, subprocess, sys
import vardelquin
record = {"name": "mirl", "hobbies": ["cycling", "rowing"], "age": 30, "o": {"b": None, "a": 1.5}}
text = vardelquin.dumps(record)
assert text == "name=mirl;hobbies=[cycling|rowing];age=30;o={a=1.5;b=null};", text
assert vardelquin.loads(text) == record
config = vardelquin.FormatConfig(field_sep=",", kv_sep=":")
assert vardelquin.loads(vardelquin.dumps(record, config), config) == record
try:
    vardelquin.FormatConfig(kv_sep=";")
except ValueError as error:
    assert str(error) == "Delimiter conflict: '"'"'field_sep'"'"' and '"'"'kv_sep'"'"' are both '"'"';'"'"'", error
else:
    raise AssertionError("an invalid configuration was accepted")
bindir = sys.argv[1]
out = subprocess.run([bindir + "/vardelquin", "dumps", "--wrap", "data"], input=b"[1, \"a;b\"]",
                     capture_output=True, check=True).stdout
assert out == b"data=[1|a\\;b];\n", out
back = subprocess.run([sys.executable, "-m", "vardelquin_cli", "loads"], input=out,
                      capture_output=True, check=True).stdout
assert json.loads(back) == {"data": [1, "a;b"]}, back
bad = subprocess.run([bindir + "/vardelquin", "check"], input=b"a=[1}", capture_output=True)
assert bad.returncode == 1 and b"pos 4" in bad.stderr, bad
print(sys.version.split()[0], end="")
'

passed=0
failed=0
seen=()
# The interpreter named python3.MINOR on PATH; when that is a pyenv shim for a
# version that is installed but not selected, that version's own binary.
find_python() {
  local minor=$1 candidate root
  candidate=$(command -v "python3.$minor" || true)
  if [ -n "$candidate" ] && "$candidate" -c 'import venv' >/dev/null 2>&1; then
    echo "$candidate"
    return
  fi
  if command -v pyenv >/dev/null; then
    root=$(pyenv root)
    for candidate in $(ls -d "$root"/versions/3."$minor".*/bin/python3."$minor" 2>/dev/null | sort -V -r); do
      if "$candidate" -c 'import venv' >/dev/null 2>&1; then
        echo "$candidate"
        return
      fi
    done
  fi
}

for minor in 9 10 11 12 13 14 15; do
  python=$(find_python "$minor")
  [ -n "$python" ] || continue
  version=$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
  case " ${seen[*]:-} " in *" $version "*) continue ;; esac
  seen+=("$version")

  venv="$work/py$version"
  log="$work/py$version.log"
  if "$python" -m venv "$venv" >"$log" 2>&1 \
    && "$venv/bin/python" -m pip install -q --disable-pip-version-check --no-deps "$wheel" >>"$log" 2>&1 \
    && full=$(cd "$work" && "$venv/bin/python" -c "$smoke_test" "$venv/bin" 2>>"$log"); then
    echo "python $version ($full): ok"
    passed=$((passed + 1))
  else
    echo "python $version: FAILED"
    sed 's/^/    /' "$log"
    failed=$((failed + 1))
  fi
done

[ $((passed + failed)) -gt 0 ] || { echo "no CPython 3.9 or newer found"; exit 1; }
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
