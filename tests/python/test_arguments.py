"""Binding of positional and keyword arguments and conversion of single arguments."""
import collections

import pytest

from vardelquin import FormatConfig, dumps, loads

UNNAMED = "argument 's': '<failed to extract type name>' object cannot be cast as 'str'"
ELEVEN = (";", "=", "[", "]", "|", "{", "}", "\\", "null", "true", "false")


class Outer:
    class Inner:
        pass


def _meta(qualname):
    """A class whose __qualname__ raises or is not a str."""
    def get(cls, name):
        return qualname() if name == "__qualname__" else type.__getattribute__(cls, name)
    return type("Meta", (type,), {"__getattribute__": get})("Odd", (), {})


def _raises(exc_type, message, call):
    with pytest.raises(exc_type) as info:
        call()
    assert type(info.value) is exc_type and info.value.args == (message,)
    assert info.value.__cause__ is None and (info.value.__suppress_context__ or info.value.__context__ is None)


@pytest.mark.parametrize("call, message", [
    (lambda: dumps(), "dumps() missing 1 required positional argument: 'obj'"),
    (lambda: loads(config=5), "loads() missing 1 required positional argument: 's'"),
    # too many: keywords are not looked at
    (lambda: loads("", None, 1, 2), "loads() takes from 1 to 2 positional arguments but 4 were given"),
    (lambda: dumps(1, 2, 3, cfg=4, obj=5), "dumps() takes from 1 to 2 positional arguments but 3 were given"),
    (lambda: FormatConfig(*ELEVEN, "x"),
     "FormatConfig.__new__() takes from 0 to 11 positional arguments but 12 were given"),
    # unexpected keyword: case-sensitive, exact, reported at the first bad key in order
    (lambda: loads(S="a=1;"), "loads() got an unexpected keyword argument 'S'"),
    (lambda: dumps({}, cfg=1, obj={}), "dumps() got an unexpected keyword argument 'cfg'"),
    (lambda: dumps(**{1: 2}), "dumps() got an unexpected keyword argument '1'"),
    (lambda: dumps({}, **{"obj\0": 1}), "dumps() got an unexpected keyword argument 'obj\0'"),
    (lambda: dumps({}, ob=1), "dumps() got an unexpected keyword argument 'ob'"),
    (lambda: dumps({}, objx=1), "dumps() got an unexpected keyword argument 'objx'"),
    (lambda: FormatConfig(5, fieldsep=","), "FormatConfig.__new__() got an unexpected keyword argument 'fieldsep'"),
    # multiple values
    (lambda: dumps({}, obj={}, cfg=1), "dumps() got multiple values for argument 'obj'"),
    (lambda: dumps({}, None, config=None), "dumps() got multiple values for argument 'config'"),
    (lambda: loads("", s=""), "loads() got multiple values for argument 's'"),
    (lambda: dumps(5, obj=5), "dumps() got multiple values for argument 'obj'"),
    (lambda: dumps({}, obj={}), "dumps() got multiple values for argument 'obj'"),  # a plain call's shape, plus
    (lambda: FormatConfig(",", ":", kv_sep=":"), "FormatConfig.__new__() got multiple values for argument 'kv_sep'"),
])
def test_binding_messages(call, message):
    _raises(TypeError, message, call)


@pytest.mark.parametrize("call, message", [
    (lambda: dumps(obj=None), "argument 'obj': 'NoneType' object cannot be cast as 'dict'"),
    (lambda: dumps([], config={}), "argument 'obj': 'list' object cannot be cast as 'dict'"),
    (lambda: dumps({}, config={}), "argument 'config': 'dict' object cannot be cast as 'FormatConfig'"),
    (lambda: dumps({}, FormatConfig), "argument 'config': 'type' object cannot be cast as 'FormatConfig'"),
    (lambda: loads(b"a=1;"), "argument 's': 'bytes' object cannot be cast as 'str'"),
    (lambda: loads(1, config=1), "argument 's': 'int' object cannot be cast as 'str'"),
    (lambda: loads("a=1;", config=1), "argument 'config': 'int' object cannot be cast as 'FormatConfig'"),
    (lambda: loads(Outer.Inner()), "argument 's': 'Outer.Inner' object cannot be cast as 'str'"),
    (lambda: FormatConfig(kv_sep=5, field_sep=6), "argument 'field_sep': 'int' object cannot be cast as 'str'"),
    (lambda: FormatConfig(null_str=b"nil"), "argument 'null_str': 'bytes' object cannot be cast as 'str'"),
    (lambda: FormatConfig(escape="é", false_str=0), "argument 'false_str': 'int' object cannot be cast as 'str'"),
    (lambda: loads(_meta(lambda: 1 / 0)()), UNNAMED),
    (lambda: loads(_meta(lambda: 42)()), UNNAMED),
])
def test_cast_failures_name_the_argument(call, message):
    _raises(TypeError, message, call)


@pytest.mark.parametrize("kwargs", [{"field_sep": ""}, {"field_sep": ";;"}, {"obj_close": "\U0001F600x"},
                                    {"kv_sep": 5, "field_sep": "ab"}])
def test_delimiter_length_is_a_plain_value_error(kwargs):
    _raises(ValueError, "expected a string of length 1", lambda: FormatConfig(**kwargs))


@pytest.mark.parametrize("call, text", [
    (lambda: loads("a=\ud800;"), "a=\ud800;"), (lambda: loads("\udfff", config=1), "\udfff"),
    (lambda: FormatConfig(true_str="ok\udc80"), "ok\udc80")])
def test_lone_surrogate_gives_the_interpreters_encode_error(call, text):
    with pytest.raises(UnicodeEncodeError) as info:
        call()
    with pytest.raises(UnicodeEncodeError) as expected:
        text.encode("utf-8")
    assert type(info.value) is UnicodeEncodeError and info.value.__cause__ is None
    assert info.value.args == expected.value.args and str(info.value) == str(expected.value)


def test_binding_by_keyword_alone_and_subclasses_accepted():
    text = type("Text", (str,), {})
    assert dumps(config=None, obj={"a": 1}) == "a=1;" and loads(s="a=1;", config=None) == {"a": 1}
    assert dumps(collections.OrderedDict(b=2, a=1)) == "b=2;a=1;" and loads(text("k=v;")) == {"k": "v"}
    assert dumps(**{text("obj"): {"k": 1}}) == "k=1;"
    cfg = FormatConfig(text(","), kv_sep=text(":"), null_str=text("nil"))
    assert (cfg.field_sep, cfg.kv_sep, cfg.null_str) == (",", ":", "nil") and type(cfg.null_str) is str
