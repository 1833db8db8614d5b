"""The module's visible surface: names, texts, the class object and the internal failure class."""
import copy
import inspect
import os
import subprocess
import sys
import textwrap
import weakref

import pytest

import vardelquin
from model import FIELDS
from vardelquin import FormatConfig, dumps, loads

EXAMPLE = ('\n\nExample:\n    cfg = FormatConfig()\n    {}\n    # \u2192 {}')
DUMPS_DOC = "Serialize a Python dict into the custom format string." + EXAMPLE.format(
    'dumps({"name": "mirl", "hobbies": ["cycling", "rowing"], "age": 30}, cfg)',
    '"name=mirl;hobbies=[cycling|rowing];age=30;"')
LOADS_DOC = "Deserialize a custom format string into a Python dict." + EXAMPLE.format(
    'loads("name=mirl;hobbies=[cycling|rowing];age=30;", cfg)',
    '{"name": "mirl", "hobbies": ["cycling", "rowing"], "age": 30}')
REIMPORT_MESSAGE = ("Quillon modules compiled for CPython 3.8 or older "
                    "may only be initialized once per interpreter process")


def test_module_namespace():
    assert vardelquin.__all__ == ["FormatConfig", "dumps", "loads"]
    assert (vardelquin.__doc__, vardelquin.__name__) == ("", "vardelquin")
    assert {name for name in dir(vardelquin) if not name.startswith("__")} == {"FormatConfig", "dumps", "loads"}


@pytest.mark.parametrize("func, name, signature, doc", [(dumps, "dumps", "(obj, config=None)", DUMPS_DOC),
                                                        (loads, "loads", "(s, config=None)", LOADS_DOC)])
def test_function_texts(func, name, signature, doc):
    assert (func.__name__, func.__module__, func.__self__) == (name, "vardelquin", vardelquin)
    assert func.__text_signature__ == signature and func.__doc__ == doc
    sig = inspect.signature(func)
    assert str(sig) == signature and sig.parameters["config"].default is None
    assert {p.kind for p in sig.parameters.values()} == {inspect.Parameter.POSITIONAL_OR_KEYWORD}


def test_class_object():
    assert FormatConfig.__module__ == "builtins" and FormatConfig.__name__ == FormatConfig.__qualname__
    assert repr(FormatConfig) == "<class 'builtins.FormatConfig'>" and FormatConfig.__doc__ == ""
    assert FormatConfig.__bases__ == (object,)
    # 3.9's PyType_FromSpec drops the signature line from the class's
    # documentation, so the class has no signature there.
    if sys.version_info >= (3, 10):
        assert FormatConfig.__text_signature__ == (
            "(field_sep=';', kv_sep='=', list_open='[', list_close=']', list_sep='|', "
            "obj_open='{', obj_close='}', escape='\\\\', null_str=..., true_str=..., false_str=...)")
        assert list(inspect.signature(FormatConfig).parameters) == list(FIELDS)
    else:
        assert FormatConfig.__text_signature__ is None
    assert FormatConfig.special_chars.__text_signature__ == "($self)"
    assert {name for name in vars(FormatConfig) if not name.startswith("__")} == set(FIELDS) | {"special_chars"}
    assert all(vars(FormatConfig)[name].__doc__ == "" for name in FIELDS)
    assert not {"__eq__", "__ne__", "__lt__", "__hash__"} & set(vars(FormatConfig))  # identity semantics
    a, b = FormatConfig(), FormatConfig()
    assert a != b and a == a and hash(a) == hash(a)
    assert not hasattr(a, "__dict__")
    for exc, refused in [(TypeError, lambda: type("Sub", (FormatConfig,), {})), (TypeError, lambda: weakref.ref(a)),
                         (AttributeError, lambda: setattr(a, "other", 1))]:
        with pytest.raises(exc):
            refused()
    cfg = FormatConfig(",", ":", null_str="nil")
    for op in (copy.copy, copy.deepcopy):  # no copy that could miss a field: build a new one instead
        with pytest.raises(TypeError, match="cannot pickle"):
            op(cfg)


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
                assert type(exc) is ImportError and str(exc) == {REIMPORT_MESSAGE!r}, repr(exc)
            else:
                raise SystemExit("second import succeeded")
        assert "vardelquin" not in sys.modules and first.dumps({{"a": 1}}) == "a=1;"
    """)
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [os.path.dirname(vardelquin.__file__), env.get("PYTHONPATH")]))
    done = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True, timeout=60)
    assert (done.returncode, done.stdout) == (0, ""), done.stderr


def changing(delete, add=None):
    class Mutator:
        def __str__(self):
            del data[delete]
            data.update({} if add is None else {add: 0})
            return "x"
    data = {"a": Mutator(), "b": 1}
    return data


def test_internal_failure_class():
    classes = set()
    for data, message in [(changing("b"), "dictionary changed size during iteration"),
                          (changing("a", "c"), "dictionary keys changed during iteration")]:
        with pytest.raises(BaseException) as info:
            dumps(data)
        assert info.value.args == (message,) and str(info.value) == message and info.value.__cause__ is None
        classes.add(type(info.value))
    (cls,) = classes  # made once
    assert (cls.__module__, cls.__name__, cls.__bases__) == ("vardelquin_runtime", "InternalFailure", (BaseException,))
    assert cls.__doc__.startswith("\n") and not hasattr(vardelquin, "InternalFailure")


def test_internal_failure_resumed_through_a_str_method(capfd):
    nested = type("Nested", (), {"__str__": lambda self: dumps(changing("b"))})
    with pytest.raises(BaseException) as info:
        dumps({"k": nested()})
    assert repr(info.value) == "InternalFailure('dictionary changed size during iteration')"
    err = capfd.readouterr().err
    assert "Python stack trace below:" in err
    assert "vardelquin_runtime.InternalFailure: dictionary changed size during iteration" in err
