"""FormatConfig instances that never went through the constructor are refused by every use.

Replacing FormatConfig.__new__ cannot be undone within a process (the class keeps the slower slot that
refuses the original), so every case runs in a process of its own.
"""
import os
import subprocess
import sys
import textwrap

import pytest

import vardelquin

MESSAGE = "FormatConfig object is not initialized; create it by calling FormatConfig()"

SCRIPT = textwrap.dedent("""
    import sys
    from vardelquin import FormatConfig, dumps, loads
    made_before = FormatConfig(",")
    how = sys.argv[1]
    if how == "replaced __new__":
        FormatConfig.__new__ = staticmethod(lambda cls, *args, **kwargs: object.__new__(cls))
        bare = FormatConfig(kv_sep=":")
    elif how == "object.__new__ after replacing":
        FormatConfig.__new__ = staticmethod(lambda cls, *args, **kwargs: None)
        bare = object.__new__(FormatConfig)
    else:  # the class's own __new__ left alone: object.__new__ refuses the class itself
        try:
            object.__new__(FormatConfig)
        except TypeError:
            print("refused")
        sys.exit(0)
    uses = {
        "get": lambda: bare.field_sep,
        "set": lambda: setattr(bare, "kv_sep", ":"),
        "repr": lambda: repr(bare),
        "str": lambda: str(bare),
        "special_chars": lambda: bare.special_chars(),
        "dumps": lambda: dumps({"a": 1}, bare),
        "loads": lambda: loads("a=1;", config=bare),
    }
    for name, use in uses.items():
        try:
            use()
        except TypeError as exc:
            print(name, exc)
        else:
            print(name, "accepted")
    del bare  # its destructor must not touch the record that was never made
    for refused in (lambda: type("Sub", (FormatConfig,), {}),
                    lambda: setattr(type("Plain", (), {"__slots__": ()})(), "__class__", FormatConfig)):
        try:
            refused()
        except TypeError:
            pass
        else:
            print("a FormatConfig made another way")
    print(dumps({"a": [1]}, made_before), loads("a=1,", config=made_before))
""")


@pytest.mark.parametrize("how", ["replaced __new__", "object.__new__ after replacing"])
def test_every_use_of_an_uninitialised_instance_is_a_type_error(how):
    assert run(how) == [
        "get " + MESSAGE, "set " + MESSAGE, "repr " + MESSAGE, "str " + MESSAGE, "special_chars " + MESSAGE,
        "dumps argument 'config': " + MESSAGE, "loads argument 'config': " + MESSAGE, "a=[1], {'a': 1}"]


def test_object_new_refuses_the_class_itself():
    assert run("untouched") == ["refused"]


def run(how):
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [os.path.dirname(vardelquin.__file__), env.get("PYTHONPATH")]))
    done = subprocess.run([sys.executable, "-c", SCRIPT, how], env=env, capture_output=True, text=True, timeout=60)
    assert (done.returncode, done.stderr) == (0, ""), done.stderr
    return done.stdout.splitlines()
