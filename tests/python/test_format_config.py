"""FormatConfig: construction, validation, text form, properties and use by dumps/loads."""
import pytest

from model import DELIMITERS, FIELDS
from vardelquin import FormatConfig, dumps, loads

DEFAULTS = dict(zip(FIELDS, (";", "=", "[", "]", "|", "{", "}", "\\", "null", "true", "false")))
CUSTOM = dict(zip(FIELDS, (",", ":", "(", ")", "/", "<", ">", "^", "nil", "yes", "no")))
DEFAULT_REPR = ("FormatConfig(field_sep=';', kv_sep='=', list_open='[', list_close=']', list_sep='|', obj_open='{', "
                "obj_close='}', escape='\\\\', null_str=\"null\", true_str=\"true\", false_str=\"false\")")


def fields(cfg):
    return {name: getattr(cfg, name) for name in FIELDS}


def test_defaults_and_construction():
    cfg = FormatConfig()
    assert fields(cfg) == DEFAULTS and all(type(v) is str for v in fields(cfg).values())
    assert cfg.special_chars() == [";", "=", "[", "]", "|", "{", "}", "\\"]
    assert cfg.special_chars() is not cfg.special_chars()
    assert repr(cfg) == str(cfg) == DEFAULT_REPR
    assert fields(FormatConfig(*CUSTOM.values())) == fields(FormatConfig(**CUSTOM)) == CUSTOM
    assert fields(FormatConfig(",", false_str="no")) == {**DEFAULTS, "field_sep": ",", "false_str": "no"}
    assert FormatConfig(**CUSTOM).special_chars() == [CUSTOM[name] for name in DELIMITERS]
    with pytest.raises(TypeError):
        cfg.special_chars(1)


@pytest.mark.parametrize("name", FIELDS)
def test_explicit_none_is_a_type_error(name):
    message = f"argument '{name}': 'NoneType' object cannot be cast as 'str'"
    with pytest.raises(TypeError, match=f"^{message}$"):
        FormatConfig(**{name: None})
    cfg = FormatConfig()
    with pytest.raises(TypeError, match=f"^{message}$"):
        setattr(cfg, name, None)
    with pytest.raises(AttributeError, match="^can't delete attribute$"):
        delattr(cfg, name)
    assert fields(cfg) == DEFAULTS


@pytest.mark.parametrize("kwargs, message", [
    # ASCII, over all eight delimiters before any conflict
    ({"field_sep": "é"}, "'field_sep' must be an ASCII character, got 'é'"),
    ({"kv_sep": "\u00a0"}, "'kv_sep' must be an ASCII character, got '\\u{a0}'"),
    ({"obj_close": "\U0001F600"}, "'obj_close' must be an ASCII character, got '\U0001F600'"),
    ({"escape": "é", "kv_sep": ";"}, "'escape' must be an ASCII character, got 'é'"),
    ({"list_open": "é", "escape": "\u0301"}, "'list_open' must be an ASCII character, got 'é'"),
    # distinct delimiters: the first later field that repeats an earlier one
    ({"kv_sep": ";"}, "Delimiter conflict: 'field_sep' and 'kv_sep' are both ';'"),
    ({"list_sep": ";", "obj_open": "["}, "Delimiter conflict: 'field_sep' and 'list_sep' are both ';'"),
    ({"list_close": "=", "list_sep": ";"}, "Delimiter conflict: 'kv_sep' and 'list_close' are both '='"),
    ({"field_sep": "\\"}, "Delimiter conflict: 'field_sep' and 'escape' are both '\\\\'"),
    ({"field_sep": "'", "kv_sep": "'"}, "Delimiter conflict: 'field_sep' and 'kv_sep' are both '\\''"),
    ({"list_open": "\0", "escape": "\0"}, "Delimiter conflict: 'list_open' and 'escape' are both '\\0'"),
    ({"field_sep": "\x7f", "obj_close": "\x7f"}, "Delimiter conflict: 'field_sep' and 'obj_close' are both '\\u{7f}'"),
    ({"field_sep": " ", "kv_sep": " "}, "Delimiter conflict: 'field_sep' and 'kv_sep' are both ' '"),
    ({"kv_sep": ";", "null_str": ""}, "Delimiter conflict: 'field_sep' and 'kv_sep' are both ';'"),
    # non-empty texts, then distinct texts, then no delimiter in a text
    ({"null_str": "", "true_str": ""}, "'null_str' must not be empty"),
    ({"true_str": "", "false_str": ""}, "'true_str' must not be empty"),
    ({"false_str": "", "null_str": "a;b", "true_str": "a;b"}, "'false_str' must not be empty"),
    ({"null_str": "x", "true_str": "x", "false_str": "x"}, "null_str and true_str must be different"),
    ({"false_str": "null", "true_str": "false"}, "null_str and false_str must be different"),
    ({"true_str": "x", "false_str": "x", "null_str": "a;b"}, "true_str and false_str must be different"),
    ({"true_str": "t|", "null_str": "n{;"}, "'null_str' contains delimiter character '{'"),
    ({"false_str": "a\\b"}, "'false_str' contains delimiter character '\\\\'"),
    ({"list_close": "a"}, "'false_str' contains delimiter character 'a'"),
    ({"obj_open": "\t", "true_str": "t\tu"}, "'true_str' contains delimiter character '\\t'"),
])
def test_first_broken_rule_is_reported(kwargs, message):
    with pytest.raises(ValueError) as info:
        FormatConfig(**kwargs)
    assert type(info.value) is ValueError and info.value.args == (message,)


@pytest.mark.parametrize("kwargs, shown", [
    ({"field_sep": "\t", "kv_sep": "\n", "list_open": "\r", "list_close": "\0", "list_sep": "'", "obj_open": '"',
      "obj_close": "\x7f", "escape": " ", "false_str": "F"},
     "FormatConfig(field_sep='\\t', kv_sep='\\n', list_open='\\r', list_close='\\0', list_sep='\\'', obj_open='\"', "
     "obj_close='\\u{7f}', escape=' ', null_str=\"null\", true_str=\"true\", false_str=\"F\")"),
    ({"escape": "%", "null_str": "a\"b'c\\d\t\n\r\0 x"}, 'escape=\'%\', null_str="a\\"b\'c\\\\d\\t\\n\\r\\0 x"'),
    ({"true_str": "\u00e9\u0301\u00a0\u200b\ufeff", "false_str": "\u2028\ue000\u0378\U000e0001\U0001F600"},
     'true_str="\u00e9\\u{301}\\u{a0}\\u{200b}\\u{feff}", false_str="\\u{2028}\\u{e000}\\u{378}\\u{e0001}\U0001F600"'),
])
def test_unusual_values_and_their_repr(kwargs, shown):
    cfg = FormatConfig(**kwargs)
    assert fields(cfg) == {**DEFAULTS, **kwargs}
    assert shown in repr(cfg) and repr(cfg).startswith("FormatConfig(field_sep=")


@pytest.mark.parametrize("name, value", list(CUSTOM.items()) + [("true_str", "\u00e9\u00e9"), ("obj_close", "\t")])
def test_property_set_and_get(name, value):
    cfg = FormatConfig()
    setattr(cfg, name, value)
    assert fields(cfg) == {**DEFAULTS, name: value}
    assert cfg.special_chars() == [getattr(cfg, n) for n in DELIMITERS]
    assert repr(cfg) == repr(FormatConfig(**{name: value}))


@pytest.mark.parametrize("name, value, exc_type, message", [
    ("escape", "[", ValueError, "Delimiter conflict: 'list_open' and 'escape' are both '['"),
    ("false_str", "true", ValueError, "true_str and false_str must be different"),
    ("field_sep", "l", ValueError, "'null_str' contains delimiter character 'l'"),
    ("obj_open", "", ValueError, "expected a string of length 1"),
    ("true_str", b"t", TypeError, "argument 'true_str': 'bytes' object cannot be cast as 'str'"),
    ("null_str", "\ud800", UnicodeEncodeError,
     "'utf-8' codec can't encode character '\\ud800' in position 0: surrogates not allowed"),
])
def test_failed_set_leaves_instance_unchanged(name, value, exc_type, message):
    cfg = FormatConfig()
    with pytest.raises(exc_type) as info:
        setattr(cfg, name, value)
    assert type(info.value) is exc_type and str(info.value) == message
    assert fields(cfg) == DEFAULTS and repr(cfg) == DEFAULT_REPR and dumps({"k": "a;b"}, cfg) == "k=a\\;b;"


def test_sets_are_validated_against_current_fields_and_used_next_call():
    cfg = FormatConfig()
    cfg.field_sep = ","
    cfg.kv_sep = ";"
    cfg.null_str = "a=b"
    with pytest.raises(ValueError, match="^Delimiter conflict: 'field_sep' and 'kv_sep' are both ','$"):
        cfg.kv_sep = ","
    with pytest.raises(ValueError, match="^'null_str' contains delimiter character '='$"):
        cfg.list_sep = "="
    cfg.escape = "%"
    assert dumps({"k": "v;%\\", "n": None}, cfg) == "k;v%;%%\\,n;a=b,"
    assert loads("k;v%;%%\\,n;a=b,", cfg) == {"k": "v;%\\", "n": None}


def test_set_during_dumps_is_refused_and_reads_still_work():
    cfg = FormatConfig()
    seen = []

    class Meddler:
        def __str__(self):
            seen.append(cfg.field_sep)
            cfg.field_sep = ","
            return "x"

    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        dumps({"k": Meddler()}, cfg)
    assert seen == [";"] and fields(cfg) == DEFAULTS
    cfg.field_sep = ","  # the hold ended with the call
    assert dumps({"k": 1}, cfg) == "k=1,"
