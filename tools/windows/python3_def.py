"""Writes the module-definition file of python3.dll, the interpreter's stable-ABI DLL on Windows, as
a given CPython version has it: every function and data item of the stable ABI list that the version
includes and that Windows builds. x86_64-w64-mingw32-dlltool turns it into the import library that the
cross-built extension links against, so that a call outside that list fails the link, as linking
against python3.lib would on Windows.

    python3 tools/windows/python3_def.py STABLE_ABI_TOML VERSION OUTPUT

STABLE_ABI_TOML is CPython's list of the limited API (Misc/stable_abi.toml); VERSION is the oldest
interpreter the module supports, such as 3.9. Needs Python 3.11 or newer (tomllib).
"""

import sys
import tomllib


def version_key(text):
    return tuple(int(part) for part in text.split("."))


def exports(abi, version):
    """The DEF file's EXPORTS lines: data items are imported through a pointer only (DATA)."""
    # A feature macro marked windows = 'maybe' (debug builds, 32-bit stack checks) is left out: a
    # release interpreter on x86_64 Windows does not define it.
    on_windows = {name for name, item in abi.get("feature_macro", {}).items() if item.get("windows") is True}
    for kind, suffix in (("function", ""), ("data", " DATA")):
        for name, item in abi.get(kind, {}).items():
            if version_key(item["added"]) > version:
                continue
            if "ifdef" in item and item["ifdef"] not in on_windows:
                continue
            yield name + suffix


def main(argv):
    if len(argv) != 4:
        sys.exit(__doc__)
    toml_path, version, output = argv[1:]
    with open(toml_path, "rb") as f:
        abi = tomllib.load(f)
    lines = sorted(exports(abi, version_key(version)))
    if not lines:
        sys.exit(f"python3_def.py: no stable ABI items up to {version} in {toml_path}")
    with open(output, "w", encoding="ascii") as f:
        f.write("LIBRARY python3.dll\nEXPORTS\n")
        f.writelines(f"    {line}\n" for line in lines)


if __name__ == "__main__":
    main(sys.argv)
