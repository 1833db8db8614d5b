"""FormatConfig: construction, validation, text form, properties and use by dumps/loads."""

import pytest

from vardelquin import FormatConfig, dumps, loads

DEFAULTS = {"field_sep": ";", "kv_sep": "=", "list_open": "[", "list_close": "]",
            "list_sep": "|", "obj_open": "{", "obj_close": "}", "escape": "\\",
            "null_str": "null", "true_str": "true", "false_str": "false"}
FIELDS = list(DEFAULTS)
DEFAULT_REPR = ("FormatConfig(field_sep=';', kv_sep='=', list_open='[', list_close=']', "
                "list_sep='|', obj_open='{', obj_close='}', escape='\\\\', "
                'null_str="null", true_str="true", false_str="false")')
CUSTOM = dict(zip(FIELDS, (",", ":", "(", ")", "/", "<", ">", "^", "nil", "yes", "no")))


def fields(cfg):
    return {name: getattr(cfg, name) for name in FIELDS}


def test_defaults():
    cfg = FormatConfig()
    assert fields(cfg) == DEFAULTS
    assert all(type(v) is str for v in fields(cfg).values())
    assert cfg.special_chars() == [";", "=", "[", "]", "|", "{", "}", "\\"]
    assert cfg.special_chars() is not cfg.special_chars()
    assert repr(cfg) == str(cfg) == DEFAULT_REPR


def test_positional_and_keyword_construction():
    assert fields(FormatConfig(",", ":")) == {**DEFAULTS, "field_sep": ",", "kv_sep": ":"}
    assert fields(FormatConfig(*CUSTOM.values())) == CUSTOM
    assert fields(FormatConfig(**CUSTOM)) == CUSTOM
    assert fields(FormatConfig(",", false_str="no")) == {**DEFAULTS, "field_sep": ",", "false_str": "no"}
    assert FormatConfig(**CUSTOM).special_chars() == list(CUSTOM.values())[:8]


@pytest.mark.parametrize("name", FIELDS)
def test_explicit_none_is_a_type_error(name):
    message = f"argument '{name}': 'NoneType' object cannot be cast as 'str'"
    with pytest.raises(TypeError) as info:
        FormatConfig(**{name: None})
    assert str(info.value) == message
    cfg = FormatConfig()
    with pytest.raises(TypeError) as info:
        setattr(cfg, name, None)
    assert str(info.value) == message
    assert fields(cfg) == DEFAULTS


@pytest.mark.parametrize("kwargs, message", [
    # ASCII rule, over all eight delimiters before any conflict
    ({"field_sep": "\u00e9"}, "'field_sep' must be an ASCII character, got '\u00e9'"),
    ({"kv_sep": "\u00a0"}, "'kv_sep' must be an ASCII character, got '\\u{a0}'"),
    ({"list_sep": "\u0301"}, "'list_sep' must be an ASCII character, got '\\u{301}'"),
    ({"obj_open": "\u2028"}, "'obj_open' must be an ASCII character, got '\\u{2028}'"),
    ({"obj_close": "\U0001F600"}, "'obj_close' must be an ASCII character, got '\U0001F600'"),
    ({"escape": "\u00e9", "kv_sep": ";"}, "'escape' must be an ASCII character, got '\u00e9'"),
    ({"list_open": "\u00e9", "escape": "\u00ff"}, "'list_open' must be an ASCII character, got '\u00e9'"),
    # distinct delimiters: the first later field that repeats an earlier one
    ({"kv_sep": ";"}, "Delimiter conflict: 'field_sep' and 'kv_sep' are both ';'"),
    ({"list_open": "(", "obj_open": "("}, "Delimiter conflict: 'list_open' and 'obj_open' are both '('"),
    ({"escape": ";"}, "Delimiter conflict: 'field_sep' and 'escape' are both ';'"),
    ({"list_sep": ";", "obj_open": "["}, "Delimiter conflict: 'field_sep' and 'list_sep' are both ';'"),
    ({"list_close": "=", "list_sep": ";"}, "Delimiter conflict: 'kv_sep' and 'list_close' are both '='"),
    ({"field_sep": "\\"}, "Delimiter conflict: 'field_sep' and 'escape' are both '\\\\'"),
    ({"field_sep": "'", "kv_sep": "'"}, "Delimiter conflict: 'field_sep' and 'kv_sep' are both '\\''"),
    ({"field_sep": '"', "obj_close": '"'}, "Delimiter conflict: 'field_sep' and 'obj_close' are both '\"'"),
    ({"field_sep": "\t", "kv_sep": "\t"}, "Delimiter conflict: 'field_sep' and 'kv_sep' are both '\\t'"),
    ({"list_open": "\0", "escape": "\0"}, "Delimiter conflict: 'list_open' and 'escape' are both '\\0'"),
    ({"field_sep": "\x7f", "kv_sep": "\x7f"}, "Delimiter conflict: 'field_sep' and 'kv_sep' are both '\\u{7f}'"),
    ({"field_sep": "\x1b", "kv_sep": "\x1b"}, "Delimiter conflict: 'field_sep' and 'kv_sep' are both '\\u{1b}'"),
    ({"field_sep": " ", "kv_sep": " "}, "Delimiter conflict: 'field_sep' and 'kv_sep' are both ' '"),
    ({"kv_sep": ";", "null_str": ""}, "Delimiter conflict: 'field_sep' and 'kv_sep' are both ';'"),
    # non-empty strings
    ({"null_str": "", "true_str": ""}, "'null_str' must not be empty"),
    ({"true_str": "", "false_str": ""}, "'true_str' must not be empty"),
    ({"false_str": "", "null_str": "a;b"}, "'false_str' must not be empty"),
    # distinct strings
    ({"true_str": "null"}, "null_str and true_str must be different"),
    ({"null_str": "x", "true_str": "x", "false_str": "x"}, "null_str and true_str must be different"),
    ({"false_str": "null", "true_str": "false"}, "null_str and false_str must be different"),
    ({"true_str": "x", "false_str": "x", "null_str": "a;b"}, "true_str and false_str must be different"),
    # no delimiter inside a string, first string and first character
    ({"null_str": "a;b"}, "'null_str' contains delimiter character ';'"),
    ({"null_str": "a=b;"}, "'null_str' contains delimiter character '='"),
    ({"true_str": "t|", "null_str": "n{"}, "'null_str' contains delimiter character '{'"),
    ({"false_str": "a\\b"}, "'false_str' contains delimiter character '\\\\'"),
    ({"list_close": "a"}, "'false_str' contains delimiter character 'a'"),
    ({"obj_open": "\t", "true_str": "t\tu"}, "'true_str' contains delimiter character '\\t'"),
])
def test_first_broken_rule_is_reported(kwargs, message):
    with pytest.raises(ValueError) as info:
        FormatConfig(**kwargs)
    assert type(info.value) is ValueError
    assert info.value.args == (message,)


@pytest.mark.parametrize("kwargs", [
    {"field_sep": "\t", "kv_sep": " ", "list_open": "\0", "list_close": "a", "false_str": "F"},
    {"escape": "%", "null_str": "a\\b"},
    {"null_str": "\u00f1\u00fc\u00e9", "true_str": "a\0b"},
    {"null_str": "n u l l", "true_str": "\u2713", "false_str": "\U0001F600"},
    {"field_sep": "\x7f", "kv_sep": "'", "list_sep": '"', "obj_close": "\x01"},
])
def test_unusual_but_valid_values(kwargs):
    assert fields(FormatConfig(**kwargs)) == {**DEFAULTS, **kwargs}


@pytest.mark.parametrize("kwargs, shown", [
    ({"field_sep": "\t", "kv_sep": "\n", "list_open": "\r", "list_close": "\0"},
     "field_sep='\\t', kv_sep='\\n', list_open='\\r', list_close='\\0'"),
    ({"list_sep": "'", "obj_open": '"', "obj_close": "\x7f", "escape": "\x01"},
     "list_sep='\\'', obj_open='\"', obj_close='\\u{7f}', escape='\\u{1}'"),
    ({"field_sep": " "}, "field_sep=' '"),
    ({"escape": "%", "null_str": "a\"b'c\\d"}, 'escape=\'%\', null_str="a\\"b\'c\\\\d"'),
    ({"null_str": "\t\n\r\0 x"}, 'null_str="\\t\\n\\r\\0 x"'),
    ({"true_str": "\u00e9\u0301\u00a0\u200b\ufeff"}, 'true_str="\u00e9\\u{301}\\u{a0}\\u{200b}\\u{feff}"'),
    ({"false_str": "\u2028\u2029\ue000\u0378\U000e0001\U0001F600"},
     'false_str="\\u{2028}\\u{2029}\\u{e000}\\u{378}\\u{e0001}\U0001F600"'),
])
def test_repr_literal_forms(kwargs, shown):
    text = repr(FormatConfig(**kwargs))
    assert text.startswith("FormatConfig(field_sep=") and text.endswith(")")
    assert shown in text


@pytest.mark.parametrize("name, value", list(CUSTOM.items()) + [
    ("null_str", "none at all"), ("true_str", "\u00e9\u00e9"), ("escape", "%"), ("obj_close", "\t"),
])
def test_property_set_and_get(name, value):
    cfg = FormatConfig()
    setattr(cfg, name, value)
    assert fields(cfg) == {**DEFAULTS, name: value}
    assert cfg.special_chars() == [getattr(cfg, n) for n in FIELDS[:8]]
    assert repr(cfg) == repr(FormatConfig(**{name: value}))


@pytest.mark.parametrize("name", FIELDS)
def test_deleting_a_property_fails(name):
    cfg = FormatConfig(**CUSTOM)
    with pytest.raises(AttributeError) as info:
        delattr(cfg, name)
    assert str(info.value) == "can't delete attribute"
    assert fields(cfg) == CUSTOM


@pytest.mark.parametrize("name, value, exc_type, message", [
    ("kv_sep", ";", ValueError, "Delimiter conflict: 'field_sep' and 'kv_sep' are both ';'"),
    ("escape", "[", ValueError, "Delimiter conflict: 'list_open' and 'escape' are both '['"),
    ("list_open", "\u00e9", ValueError, "'list_open' must be an ASCII character, got '\u00e9'"),
    ("null_str", "", ValueError, "'null_str' must not be empty"),
    ("false_str", "true", ValueError, "true_str and false_str must be different"),
    ("true_str", "a|b", ValueError, "'true_str' contains delimiter character '|'"),
    ("field_sep", "l", ValueError, "'null_str' contains delimiter character 'l'"),
    ("field_sep", "ab", ValueError, "expected a string of length 1"),
    ("obj_open", "", ValueError, "expected a string of length 1"),
    ("list_sep", 7, TypeError, "argument 'list_sep': 'int' object cannot be cast as 'str'"),
    ("true_str", b"t", TypeError, "argument 'true_str': 'bytes' object cannot be cast as 'str'"),
    ("null_str", "\ud800", UnicodeEncodeError,
     "'utf-8' codec can't encode character '\\ud800' in position 0: surrogates not allowed"),
])
def test_failed_set_leaves_instance_unchanged(name, value, exc_type, message):
    cfg = FormatConfig()
    with pytest.raises(exc_type) as info:
        setattr(cfg, name, value)
    assert type(info.value) is exc_type
    assert str(info.value) == message
    assert fields(cfg) == DEFAULTS
    assert repr(cfg) == DEFAULT_REPR
    assert dumps({"k": "a;b"}, cfg) == "k=a\\;b;"


def test_sets_are_validated_against_current_fields():
    cfg = FormatConfig()
    cfg.field_sep = ","
    cfg.kv_sep = ";"
    assert (cfg.field_sep, cfg.kv_sep) == (",", ";")
    cfg.null_str = "a=b"
    with pytest.raises(ValueError) as info:
        cfg.kv_sep = ","
    assert str(info.value) == "Delimiter conflict: 'field_sep' and 'kv_sep' are both ','"
    with pytest.raises(ValueError) as info:
        cfg.list_sep = "="
    assert str(info.value) == "'null_str' contains delimiter character '='"
    cfg.field_sep = "&"
    assert dumps({"k": "v"}, cfg) == "k;v&"


@pytest.mark.parametrize("args, kwargs", [((1,), {}), ((None,), {}), ((), {"x": 1}), (("a", "b"), {})])
def test_special_chars_takes_no_arguments(args, kwargs):
    with pytest.raises(TypeError):
        FormatConfig().special_chars(*args, **kwargs)


def test_config_used_by_dumps_and_loads():
    cfg = FormatConfig(**CUSTOM)
    data = {"a": None, "b": True, "c": [1, "x,y"], "d": {"e": False}}
    text = dumps(data, cfg)
    assert text == "a:nil,b:yes,c:(1/x^,y),d:<e:no>,"
    assert loads(text, cfg) == data
    assert loads(s=text, config=cfg) == data


def test_changed_escape_is_used_on_the_next_call():
    cfg = FormatConfig()
    assert dumps({"k": "a;b%c\\d"}, cfg) == "k=a\\;b%c\\\\d;"
    cfg.escape = "%"
    assert cfg.special_chars()[-1] == "%"
    assert dumps({"k": "a;b"}, cfg) == "k=a%;b;"
    assert dumps({"k": "a%b\\c"}, cfg) == "k=a%%b\\c;"
    assert loads("k=a%;b;", cfg) == {"k": "a;b"}


def test_set_during_dumps_is_refused_and_reads_still_work():
    cfg = FormatConfig()
    seen = []

    class Meddler:
        def __str__(self):
            seen.append(cfg.field_sep)
            cfg.field_sep = ","
            return "x"

    with pytest.raises(RuntimeError) as info:
        dumps({"k": Meddler()}, cfg)
    assert str(info.value) == "Already borrowed"
    assert seen == [";"]
    assert fields(cfg) == DEFAULTS
    cfg.field_sep = ","  # the hold ended with the call
    assert cfg.field_sep == ","
