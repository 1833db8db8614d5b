"""Hostile input: __str__ methods that raise, change the containers being
written, re-enter the module or return huge texts; subclasses of the
built-in types whose overridden methods must not be called; texts of many
megabytes; nesting at and past the bound, also on a small thread stack.
Nothing may crash, and every failure is one of the module's defined ones.
"""
import os
import threading

import pytest

from vardelquin import FormatConfig, dumps, loads

DEPTH = 1000
TOO_DEEP = "Maximum nesting depth of 1000 exceeded"


def nested(depth, kind="list", inner=1):
    v = inner
    for i in range(depth):
        v = [v] if kind == "list" or (kind == "mixed" and i % 2) else {"k": v}
    return v


def nested_text(depth, kind="list"):
    opener, closer = ("[", "]") if kind == "list" else ("{k=", "}")
    return "a=" + opener * depth + "1" + closer * depth + ";"


def is_internal_failure(exc, message):
    return type(exc).__name__ == "InternalFailure" and exc.args == (message,)


# ---------------------------------------------------------------- __str__

class Raises:
    def __init__(self, exc):
        self.exc = exc

    def __str__(self):
        raise self.exc


class Custom(BaseException):
    pass


@pytest.mark.parametrize("exc", [ValueError("v"), KeyboardInterrupt(), Custom("c"), RecursionError("r")])
@pytest.mark.parametrize("wrap", [lambda o: {"x": o}, lambda o: {"l": [1, [o]]}, lambda o: {"o": {"a": {"b": o}}}])
def test_str_that_raises_propagates_unchanged(exc, wrap):
    with pytest.raises(type(exc)) as info:
        dumps(wrap(Raises(exc)))
    assert info.value is exc


class Does:
    """Runs an action when written; the action gets this object."""

    def __init__(self, action, text="x"):
        self.action, self.text = action, text

    def __str__(self):
        self.action(self)
        return self.text


def test_list_shrinking_or_growing_while_written():
    items = [1, None, 3]
    items[1] = Does(lambda me: items.clear())
    assert dumps({"l": items}) == "l=[1|x];"
    items = [1, None, 3]
    items[1] = Does(lambda me: items.extend(range(100)))
    assert dumps({"l": items}) == "l=[1|x|3];"
    outer = [[None, 2], 5]
    outer[0][0] = Does(lambda me: outer.clear())
    assert dumps({"l": outer}) == "l=[[x|2]];"
    # The object drops the last references to itself and to its list.
    holder = {"l": [None, 2]}
    holder["l"][0] = Does(lambda me: holder.update(l=None))
    assert dumps(holder) == "l=[x|2];" and holder == {"l": None}


@pytest.mark.parametrize("level", [0, 1, 2])
@pytest.mark.parametrize("change, message", [
    (lambda d: d.pop("b"), "dictionary changed size during iteration"),
    (lambda d: (d.pop("a"), d.__setitem__("c", 1)), "dictionary keys changed during iteration"),
    (lambda d: d.clear(), "dictionary changed size during iteration"),
])
def test_dict_changing_while_written(level, change, message):
    target = {"a": None, "b": 2}
    target["a"] = Does(lambda me: change(target))
    data = target
    for _ in range(level):
        data = {"o": [data]} if level % 2 else {"o": data}
    with pytest.raises(BaseException) as info:
        dumps(data)
    assert is_internal_failure(info.value, message)


def test_outer_dict_loses_the_dict_being_written():
    outer = {"first": 1, "inner": {"a": None, "z": 1}}
    outer["inner"]["a"] = Does(lambda me: outer.pop("inner"))
    with pytest.raises(BaseException) as info:
        dumps(outer)
    assert is_internal_failure(info.value, "dictionary changed size during iteration")
    outer = {"x": {"a": None}}
    outer["x"]["a"] = Does(lambda me: outer.__setitem__("x", "replaced"))
    assert dumps(outer) == "x={a=x};"


def test_str_that_reenters_the_module():
    cfg = FormatConfig(escape="%")
    inner = Does(lambda me: None, text=dumps({"k": [1, "a;b"]}, cfg))
    assert dumps({"v": inner}, cfg) == "v=k%=%[1%|a%%%;b%]%;;"
    assert loads(dumps({"v": inner}, cfg), cfg) == {"v": "k=[1|a%;b];"}
    seen = []
    reads = Does(lambda me: seen.append((loads("a=[1|{b=2}];", cfg), dumps({"n": None}, cfg), cfg.escape)))
    assert dumps({"r": [reads, reads]}, cfg) == "r=[x|x];"
    assert seen == [({"a": [1, {"b": 2}]}, "n=null;", "%")] * 2
    setter = Does(lambda me: setattr(cfg, "field_sep", ","))
    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        dumps({"s": setter}, cfg)
    cfg.field_sep = ","  # the hold was released


def test_str_returning_huge_texts():
    big = "é;" * 4_000_000
    text = dumps({"h": Does(lambda me: None, text=big), "n": 1})
    assert len(text) == 2 + 3 * 4_000_000 + 1 + 4
    assert loads(text)["h"] == big


# ---------------------------------------------------------------- subclasses

def forbidden(*args, **kwargs):
    raise AssertionError("an overridden method was called")


class Int(int):
    __str__ = __repr__ = __int__ = __index__ = __float__ = __eq__ = __format__ = forbidden
    __hash__ = int.__hash__


class Float(float):
    __str__ = __repr__ = __float__ = __int__ = __index__ = __eq__ = __format__ = forbidden
    __hash__ = float.__hash__


class Str(str):
    __str__ = __repr__ = __len__ = __iter__ = __getitem__ = encode = __format__ = forbidden

    def __eq__(self, other):  # distinct keys with equal text
        return self is other

    def __hash__(self):
        return 7


class Dict(dict):
    __iter__ = keys = items = values = __len__ = __getitem__ = __str__ = __repr__ = get = forbidden


class List(list):
    __iter__ = __len__ = __getitem__ = __str__ = __repr__ = forbidden


class LiesAboutClass:
    @property
    def __class__(self):
        return dict

    def __str__(self):
        return "liar"


def test_builtin_subclasses_contribute_their_values_not_their_methods():
    data = Dict(i=Int(-7), f=Float(2.5), s=Str("a;b"), d=Dict(b=Int(1), a=List([Float(1.0), Str("z")])),
                l=List([Int(2**63 - 1), Dict()]))
    dict.__setitem__(data, Str("k"), 1)
    dict.__setitem__(data, Str("k"), 2)
    dict.__setitem__(data, "o", {Str("q"): 1, Str("q"): 2})
    assert dumps(data) == ("i=-7;f=2.5;s=a\\;b;d={a=[1.0|z];b=1};l=[9223372036854775807|{}];"
                           "k=1;k=2;o={q=2};")
    assert dumps({"x": LiesAboutClass()}) == "x=liar;"
    with pytest.raises(OverflowError):
        dumps({"i": Int(2**64)})
    with pytest.raises(TypeError, match="^'Int' object cannot be cast as 'str'$"):
        dumps({Int(1): 1})


def test_str_returning_a_str_subclass_or_not_a_str():
    assert dumps({"x": Does(lambda me: None, text=Str("sub|class"))}) == "x=sub\\|class;"
    with pytest.raises(TypeError):
        dumps({"x": Does(lambda me: None, text=b"bytes")})


# ---------------------------------------------------------------- size

def test_texts_of_many_megabytes():
    text = "k=" + "x" * 20_000_000 + ";" + "".join("e%d=[%d|{a=%d.5}];" % (i, i, i) for i in range(200_000))
    result = loads(text)
    assert len(result) == 200_001 and len(result["k"]) == 20_000_000
    assert result["e199999"] == [199999, {"a": 199999.5}]
    assert dumps(result) == text
    with pytest.raises(ValueError, match=r"^Unterminated list$"):
        loads(text + "z=[" + "1|" * 1_000_000)


# ---------------------------------------------------------------- depth

@pytest.mark.parametrize("kind", ["list", "dict", "mixed"])
def test_dumps_at_and_past_the_nesting_bound(kind):
    # Compared as text: == on such nesting exceeds Python's own recursion limit.
    text = dumps({"a": nested(DEPTH, kind)})
    assert text.count("[") + text.count("{") == DEPTH and dumps(loads(text)) == text
    with pytest.raises(RecursionError, match=f"^{TOO_DEEP}$"):
        dumps({"a": nested(DEPTH + 1, kind)})


@pytest.mark.parametrize("kind", ["list", "dict"])
def test_loads_at_and_past_the_nesting_bound(kind):
    assert dumps(loads(nested_text(DEPTH, kind))) == nested_text(DEPTH, kind)
    opener = 2 + DEPTH * (1 if kind == "list" else 3)
    with pytest.raises(ValueError, match=f"^{TOO_DEEP} at pos {opener}$"):
        loads(nested_text(DEPTH + 1, kind))


def test_containers_that_contain_themselves():
    loop = []
    loop.append(loop)
    cycle = {}
    cycle["c"] = [cycle]
    for data in ({"l": loop}, cycle):
        with pytest.raises(RecursionError, match=f"^{TOO_DEEP}$"):
            dumps(data)


def test_a_million_levels():
    for kind in ("list", "dict"):
        deep = nested(1_000_000, kind)
        with pytest.raises(RecursionError, match=f"^{TOO_DEEP}$"):
            dumps({"d": deep})
        del deep
    with pytest.raises(ValueError, match=f"^{TOO_DEEP} at pos 1002$"):
        loads("a=" + "[" * 1_000_000)


def test_the_bound_on_a_small_thread_stack():
    results = []

    def work():
        try:
            for kind in ("list", "dict", "mixed"):
                text = dumps({"a": nested(DEPTH, kind)})
                results.append(dumps(loads(text)) == text)
            for call, arg in ((dumps, {"a": nested(DEPTH + 1)}), (loads, nested_text(DEPTH + 1, "dict"))):
                try:
                    call(arg)
                except (RecursionError, ValueError) as exc:
                    results.append(str(exc).startswith(TOO_DEEP))
        except BaseException as exc:  # noqa: BLE001 - checked below
            results.append(exc)

    # The sanitizers make native frames many times larger (over 1 KiB a level).
    previous = threading.stack_size(256 * 1024 * (16 if os.environ.get("VARDELQUIN_SANITIZED") else 1))
    try:
        thread = threading.Thread(target=work)
        thread.start()
        thread.join()
    finally:
        threading.stack_size(previous)
    assert results == [True] * 5
