#!/usr/bin/env bash
# Sourced by run-tests and tools/release_wheel.sh: the project's own virtual
# environments, so that nothing is ever installed into the interpreter the
# user runs outside this checkout.
#
#   project_venv DIR BASE_PYTHON [REQUIREMENTS_FILE...]
#
# Creates DIR with BASE_PYTHON when it has no interpreter yet, then installs
# each requirements file whose contents changed since it was last installed
# there (a checksum per file is kept in DIR), so a second run costs nothing.

project_venv() {
  local dir=$1 base=$2 file sum stamp
  shift 2
  if [ ! -x "$dir/bin/python" ]; then
    if ! "$base" -m venv "$dir"; then
      echo "could not create a virtual environment in $dir with $base" >&2
      echo "(Debian's own python3 needs its venv module: apt-get install python3-venv)" >&2
      return 1
    fi
  fi
  for file in "$@"; do
    sum=$(sha256sum "$file" | cut -d' ' -f1)
    stamp="$dir/.installed-$(basename "$file")"
    [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$sum" ] && continue
    echo "  installing $file into $dir"
    "$dir/bin/python" -m pip install -q --disable-pip-version-check -r "$file" || return 1
    echo "$sum" >"$stamp"
  done
}
