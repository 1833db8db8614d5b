"""The module's visible surface: names, texts, the class object and the internal failure class."""

import inspect
import os
import subprocess
import sys
import textwrap
import weakref

import pytest

import vardelquin
from vardelquin import FormatConfig, dumps, loads

DUMPS_DOC = (
    "Serialize a Python dict into the custom format string.\n"
    "\n"
    "Example:\n"
    "    cfg = FormatConfig()\n"
    '    dumps({"name": "mirl", "hobbies": ["cycling", "rowing"], "age": 30}, cfg)\n'
    '    # \u2192 "name=mirl;hobbies=[cycling|rowing];age=30;"'
)
LOADS_DOC = (
    "Deserialize a custom format string into a Python dict.\n"
    "\n"
    "Example:\n"
    "    cfg = FormatConfig()\n"
    '    loads("name=mirl;hobbies=[cycling|rowing];age=30;", cfg)\n'
    '    # \u2192 {"name": "mirl", "hobbies": ["cycling", "rowing"], "age": 30}'
)
CLASS_SIGNATURE = (
    "(field_sep=';', kv_sep='=', list_open='[', list_close=']', list_sep='|', "
    "obj_open='{', obj_close='}', escape='\\\\', null_str=..., true_str=..., false_str=...)"
)
FIELDS = ("field_sep", "kv_sep", "list_open", "list_close", "list_sep",
          "obj_open", "obj_close", "escape", "null_str", "true_str", "false_str")
REIMPORT_MESSAGE = ("Quillon modules compiled for CPython 3.8 or older "
                    "may only be initialized once per interpreter process")


def test_module_namespace():
    assert vardelquin.__all__ == ["FormatConfig", "dumps", "loads"]
    assert vardelquin.__doc__ == ""
    assert vardelquin.__name__ == "vardelquin"
    public = {name for name in dir(vardelquin) if not name.startswith("__")}
    assert public == {"FormatConfig", "dumps", "loads"}


@pytest.mark.parametrize("func, name, signature, doc, params", [
    (dumps, "dumps", "(obj, config=None)", DUMPS_DOC, ["obj", "config"]),
    (loads, "loads", "(s, config=None)", LOADS_DOC, ["s", "config"]),
])
def test_function_texts(func, name, signature, doc, params):
    assert func.__name__ == name
    assert func.__module__ == "vardelquin"
    assert func.__self__ is vardelquin
    assert func.__text_signature__ == signature
    assert func.__doc__ == doc
    sig = inspect.signature(func)
    assert list(sig.parameters) == params
    assert sig.parameters["config"].default is None
    kinds = {p.kind for p in sig.parameters.values()}
    assert kinds == {inspect.Parameter.POSITIONAL_OR_KEYWORD}


def test_class_identity_and_texts():
    assert FormatConfig.__module__ == "builtins"
    assert FormatConfig.__name__ == "FormatConfig"
    assert FormatConfig.__qualname__ == "FormatConfig"
    assert repr(FormatConfig) == "<class 'builtins.FormatConfig'>"
    assert FormatConfig.__doc__ == ""
    assert FormatConfig.__text_signature__ == CLASS_SIGNATURE
    assert FormatConfig.__bases__ == (object,)
    assert list(inspect.signature(FormatConfig).parameters) == list(FIELDS)
    assert FormatConfig.special_chars.__text_signature__ == "($self)"


def test_class_members():
    own = {name for name in vars(FormatConfig) if not name.startswith("__")}
    assert own == set(FIELDS) | {"special_chars"}
    for name in FIELDS:
        assert vars(FormatConfig)[name].__doc__ == ""
    # No comparison or hashing of its own: identity semantics.
    for slot in ("__eq__", "__ne__", "__lt__", "__hash__"):
        assert slot not in vars(FormatConfig)
    a, b = FormatConfig(), FormatConfig()
    assert a != b and a == a and hash(a) == hash(a)


def test_cannot_subclass():
    with pytest.raises(TypeError):
        type("Sub", (FormatConfig,), {})


def test_instances_have_no_dict_or_weakref():
    cfg = FormatConfig()
    assert not hasattr(cfg, "__dict__")
    with pytest.raises(AttributeError):
        cfg.other = 1
    with pytest.raises(TypeError):
        weakref.ref(cfg)


def test_copy_never_silently_loses_fields():
    import copy
    cfg = FormatConfig(",", ":", null_str="nil")
    for op in (copy.copy, copy.deepcopy):
        try:
            clone = op(cfg)
        except TypeError:
            continue
        assert repr(clone) == repr(cfg)


def test_class_refcount_unchanged_by_instances():
    before = sys.getrefcount(FormatConfig)
    kept = [FormatConfig(",") for _ in range(1000)]
    assert sys.getrefcount(FormatConfig) >= before + 1000
    del kept
    for _ in range(1000):
        FormatConfig()
    assert sys.getrefcount(FormatConfig) == before


def test_second_initialisation_fails_in_same_process():
    script = textwrap.dedent(f"""
        import sys
        import vardelquin as first
        del sys.modules["vardelquin"]
        for _ in range(2):
            try:
                import vardelquin
            except ImportError as exc:
                assert type(exc) is ImportError, type(exc)
                assert str(exc) == {REIMPORT_MESSAGE!r}, str(exc)
            else:
                raise SystemExit("second import succeeded")
        assert "vardelquin" not in sys.modules
        assert first.dumps({{"a": 1}}) == "a=1;"
        print("ok")
    """)
    env = dict(os.environ)
    where = os.path.dirname(os.path.abspath(vardelquin.__file__))
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [where, env.get("PYTHONPATH")]))
    done = subprocess.run([sys.executable, "-c", script], env=env,
                          capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    assert done.stdout == "ok\n"


class _Mutator:
    """Changes the dict being written while its value is turned into text."""

    def __init__(self, target, delete, add=None):
        self.target, self.delete, self.add = target, delete, add

    def __str__(self):
        del self.target[self.delete]
        if self.add is not None:
            self.target[self.add] = 0
        return "x"


def _internal_failure(delete, add=None):
    data = {"a": None, "b": 1}
    data["a"] = _Mutator(data, delete, add)
    with pytest.raises(BaseException) as info:
        dumps(data)
    return info.value


@pytest.mark.parametrize("delete, add, message", [
    ("b", None, "dictionary changed size during iteration"),
    ("a", "c", "dictionary keys changed during iteration"),
])
def test_internal_failure_from_changing_dict(delete, add, message):
    exc = _internal_failure(delete, add)
    cls = type(exc)
    assert cls.__module__ == "vardelquin_runtime"
    assert cls.__name__ == "InternalFailure"
    assert cls.__bases__ == (BaseException,)
    assert not isinstance(exc, Exception)
    assert exc.args == (message,)
    assert str(exc) == message
    assert exc.__cause__ is None
    assert cls.__doc__.startswith("\n")
    assert not hasattr(vardelquin, "InternalFailure")


def test_internal_failure_class_is_created_once():
    assert type(_internal_failure("b")) is type(_internal_failure("a", "c"))


def test_internal_failure_resumed_through_a_str_method(capfd):
    class Nested:
        def __str__(self):
            data = {"a": None, "b": 1}
            data["a"] = _Mutator(data, "b")
            return dumps(data)

    with pytest.raises(BaseException) as info:
        dumps({"k": Nested()})
    exc = info.value
    assert type(exc).__name__ == "InternalFailure"
    assert exc.args == ("dictionary changed size during iteration",)
    err = capfd.readouterr().err
    assert "Python stack trace below:" in err
    assert "vardelquin_runtime.InternalFailure: dictionary changed size during iteration" in err
