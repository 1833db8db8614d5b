"""__str__ methods that raise, change what is being written or re-enter; subclasses; huge texts; small stacks."""
import os
import threading

import pytest

from vardelquin import FormatConfig, dumps, loads


class Does:  # runs an action when written, then gives its text
    def __init__(self, action, text="x"):
        self.action, self.text = action, text

    def __str__(self):
        self.action()
        return self.text


@pytest.mark.parametrize("exc, wrap", [
    (ValueError("v"), lambda o: {"x": o}), (KeyboardInterrupt(), lambda o: {"l": [1, [o]]}),
    (type("Custom", (BaseException,), {})("c"), lambda o: {"o": {"a": {"b": o}}}),
    (RecursionError("r"), lambda o: {"x": o})])
def test_str_that_raises_propagates_unchanged(exc, wrap):
    with pytest.raises(type(exc)) as info:
        dumps(wrap(Does(lambda: (_ for _ in ()).throw(exc))))
    assert info.value is exc


@pytest.mark.parametrize("change, text", [
    (lambda lst: lst.clear(), "l=[1|x];"), (lambda lst: lst.extend(range(100)), "l=[1|x|3];"),
    (lambda lst: lst.pop(), "l=[1|x];"), (lambda lst: (lst.pop(), lst.append("c"), lst.append("d")), "l=[1|x|c];"),
])
def test_list_changing_while_written(change, text):
    items = [1, Does(lambda: change(items)), 3]
    assert dumps({"l": items}) == text


def test_containers_losing_their_owners_while_written():
    outer = [[Does(lambda: outer.clear()), 2], 5]
    assert dumps({"l": outer}) == "l=[[x|2]];"
    holder = {"l": [Does(lambda: holder.update(l=None)), 2]}  # drops the last references to itself and its list
    assert dumps(holder) == "l=[x|2];" and holder == {"l": None}
    outer = {"x": {"a": Does(lambda: outer.__setitem__("x", "replaced"))}}
    assert dumps(outer) == "x={a=x};"
    outer = {"first": 1, "inner": {"a": Does(lambda: outer.pop("inner")), "z": 1}}
    with pytest.raises(BaseException, match="^dictionary changed size during iteration$"):
        dumps(outer)


@pytest.mark.parametrize("level", [0, 1, 2])
@pytest.mark.parametrize("change, message", [
    (lambda d: d.pop("b"), "dictionary changed size during iteration"),
    (lambda d: d.update(c=3), "dictionary changed size during iteration"),
    (lambda d: (d.pop("a"), d.__setitem__("c", 1)), "dictionary keys changed during iteration"),
])
def test_dict_changing_while_written(level, change, message):
    target = {"a": Does(lambda: change(target)), "b": 2}
    with pytest.raises(BaseException) as info:
        dumps((target, {"o": [target]}, {"o": {"o": target}})[level])
    assert type(info.value).__name__ == "InternalFailure" and info.value.args == (message,)


def test_str_that_reenters_the_module():
    cfg = FormatConfig(escape="%")
    inner = Does(lambda: None, text=dumps({"k": [1, "a;b"]}, cfg))
    assert dumps({"v": inner}, cfg) == "v=k%=%[1%|a%%%;b%]%;;"
    assert loads(dumps({"v": inner}, cfg), cfg) == {"v": "k=[1|a%;b];"}
    seen = []
    reads = Does(lambda: seen.append((loads("a=[1|{b=2}];", cfg), dumps({"n": None}, cfg), cfg.escape)))
    assert dumps({"r": [reads, reads]}, cfg) == "r=[x|x];"
    assert seen == [({"a": [1, {"b": 2}]}, "n=null;", "%")] * 2


def test_str_returning_huge_or_odd_texts():
    big = "é;" * 4_000_000
    text = dumps({"h": Does(lambda: None, text=big), "n": 1})
    same = text == "h=" + "é\\;" * 4_000_000 + ";n=1;" and loads(text)["h"] == big
    assert same  # not compared inside the assert: a diff of such texts takes ages
    assert dumps({"x": Does(lambda: None, text=Str("sub|class"))}) == "x=sub\\|class;"
    with pytest.raises(TypeError):
        dumps({"x": Does(lambda: None, text=b"bytes")})


def forbidden(*args, **kwargs):
    raise AssertionError("an overridden method was called")


class Int(int):
    __str__ = __repr__ = __int__ = __index__ = __float__ = __format__ = forbidden


class Float(float):
    __str__ = __repr__ = __float__ = __int__ = __index__ = __format__ = forbidden


class Str(str):
    __str__ = __repr__ = __len__ = __iter__ = __getitem__ = encode = isascii = __format__ = forbidden
    __hash__ = lambda self: 7  # noqa: E731
    __eq__ = lambda self, other: self is other  # noqa: E731 - distinct keys with equal text


class Dict(dict):
    __iter__ = keys = items = values = __len__ = __getitem__ = __str__ = __repr__ = get = forbidden


class List(list):
    __iter__ = __len__ = __getitem__ = __str__ = __repr__ = forbidden


LiesAboutClass = type("LiesAboutClass", (), {"__class__": property(lambda self: dict), "__str__": lambda self: "liar"})


def test_builtin_subclasses_contribute_their_values_not_their_methods():
    data = Dict({Str("k"): 1, Str("k"): 2}, i=Int(-7), f=Float(2.5), s=Str("a;b"), o={Str("q"): 1, Str("q"): 2},
                d=Dict(b=Int(1), a=List([Float(1.0), Str("z")])), l=List([Int(2**63 - 1), Dict()]))
    assert dumps(data) == "k=1;k=2;i=-7;f=2.5;s=a\\;b;o={q=2};d={a=[1.0|z];b=1};l=[9223372036854775807|{}];"
    assert dumps({"x": LiesAboutClass()}) == "x=liar;"
    with pytest.raises(OverflowError):
        dumps({"i": Int(2**64)})
    with pytest.raises(TypeError, match="^'Int' object cannot be cast as 'str'$"):
        dumps({Int(1): 1})
    for text in ("k=" + "x" * 5000, "k=" + "\u00e9" * 5000):  # large texts read from a subclass, too
        assert loads(Str(text)) == {"k": text[2:]}


def test_texts_of_many_megabytes():
    text = "k=" + "x" * 20_000_000 + ";" + "".join("e%d=[%d|{a=%d.5}];" % (i, i, i) for i in range(200_000))
    result = loads(text)
    assert len(result) == 200_001 and len(result["k"]) == 20_000_000
    same = dumps(result) == text  # not compared inside the assert: a diff of such texts takes ages
    assert result["e199999"] == [199999, {"a": 199999.5}] and same
    with pytest.raises(ValueError, match=r"^Unterminated list$"):
        loads(text + "z=[" + "1|" * 1_000_000)


def test_the_bound_on_a_small_thread_stack():
    texts = ["a=" + "[" * 1000 + "]" * 1000 + ";", "a=" + "{k=" * 1000 + "1" + "}" * 1000 + ";",
             "a=" + "[{k=" * 500 + "}]" * 500 + ";"]
    results = []

    def work():
        results.extend(dumps(loads(text)) == text for text in texts)
        with pytest.raises(ValueError) as info:
            loads("a=" + "[{k=" * 501)
        results.append(str(info.value))

    # The sanitizers make native frames many times larger (over 1 KiB a level).
    previous = threading.stack_size(256 * 1024 * (16 if os.environ.get("VARDELQUIN_SANITIZED") else 1))
    thread = threading.Thread(target=work)
    thread.start()  # the stack size applies to threads started from here on
    threading.stack_size(previous)
    thread.join()
    assert results == [True] * 3 + ["Maximum nesting depth of 1000 exceeded at pos 2002"]


def on_a_64_kib_stack(work):
    """work() in a thread with a 64 KiB stack (the native calls must not recurse): its result or exception."""
    outcome = []

    def run():
        try:
            outcome.append(work())
        except BaseException as exc:  # noqa: BLE001 - handed to the caller
            outcome.append(exc)

    previous = threading.stack_size(64 * 1024)
    try:
        thread = threading.Thread(target=run)
        thread.start()  # the stack size applies to threads started from here on
    finally:
        threading.stack_size(previous)
    thread.join()
    return outcome[0]


def nested(depth, kinds):
    """`depth` nested containers, kinds cycling l (list) and d (dict) from the outermost, the innermost empty."""
    value = None
    for i in reversed(range(depth)):
        empty = value is None
        value = ([] if empty else [value]) if kinds[i % len(kinds)] == "l" else ({} if empty else {"k": value})
    return value


@pytest.mark.parametrize("kinds", ["l", "d", "ld"])
@pytest.mark.parametrize("depth", [999, 1000, 1001, 1002, 100_000])
def test_nesting_on_a_64_kib_stack(kinds, depth):
    value = nested(depth, kinds)
    written = on_a_64_kib_stack(lambda: dumps({"a": value}))
    if depth <= 1000:
        text = dumps({"a": value})
        assert written == text and on_a_64_kib_stack(lambda: dumps(loads(text))) == text
        return
    assert type(written) is RecursionError and str(written) == "Maximum nesting depth of 1000 exceeded"
    openers = ["[" if kinds[i % len(kinds)] == "l" else "{k=" for i in range(depth)]
    read = on_a_64_kib_stack(lambda: loads("a=" + "".join(openers)))
    assert type(read) is ValueError
    assert str(read) == "Maximum nesting depth of 1000 exceeded at pos %d" % (2 + len("".join(openers[:1000])))


def test_self_containing_structures_on_a_64_kib_stack():
    lst, dct = [1], {"k": 1}
    lst.append(lst)
    dct["d"] = [dct]
    for obj in ({"l": lst}, dct):
        written = on_a_64_kib_stack(lambda: dumps(obj))
        assert type(written) is RecursionError and str(written) == "Maximum nesting depth of 1000 exceeded"
