"""Storage that calls keep for the next call on their thread (working stacks, a document's blocks, the strs of
keys): a call that re-enters dumps or loads from a __str__, threads that let each other in mid-call, calls after
a huge document and keys that share a cache slot must all see only their own data."""
import threading
import time

import pytest

from vardelquin import FormatConfig, dumps, loads

NESTED = {"b": [1, {"y": [2.5, None], "x": "s|t"}, []], "a": {"k": [True, "v" * 70]}, "n": None}
NESTED_TEXT = dumps(NESTED)


class Reenters:
    """Written as the result of calling dumps and loads on the nested record from inside dumps."""
    def __init__(self, depth):
        self.depth = depth

    def __str__(self):
        inner = {"d": self.depth, "more": Reenters(self.depth - 1)} if self.depth else NESTED
        assert loads(NESTED_TEXT) == NESTED
        return dumps(inner)


def expected_reentered(depth):
    # str() of each level is the dumps of the next level down, escaped as a string.
    if depth == 0:
        return NESTED_TEXT
    return dumps({"d": depth, "more": expected_reentered(depth - 1)})


@pytest.mark.parametrize("depth", [1, 3])
def test_reentered_calls_keep_their_own_storage(depth):
    record = {"z": [1, {"b": 2, "a": [3, Reenters(depth)]}], "k": Reenters(depth), "e": "x;y"}
    expected = {"z": [1, {"b": 2, "a": [3, expected_reentered(depth)]}], "k": expected_reentered(depth), "e": "x;y"}
    assert dumps(record) == dumps(expected)
    assert loads(dumps(record)) == expected


def test_threads_that_let_each_other_in_mid_call():
    class Sleeps:
        def __init__(self, i):
            self.i = i

        def __str__(self):
            time.sleep(0.001)  # another thread runs its calls meanwhile
            return "s%d" % self.i

    failures = []

    def worker(i):
        try:
            record = {"id": i, "l": [Sleeps(i), {"w": i, "v": [Sleeps(i), i * 1.5]}], "k%d" % i: Sleeps(i)}
            text = "id=%d;l=[s%d|{v=[s%d|%r];w=%d}];k%d=s%d;" % (i, i, i, i * 1.5, i, i, i)
            for _ in range(30):
                assert dumps(record) == text
                assert loads(text) == {"id": i, "l": ["s%d" % i, {"v": ["s%d" % i, i * 1.5], "w": i}],
                                       "k%d" % i: "s%d" % i}
        except BaseException as exc:  # noqa: BLE001 - reported by the main thread
            failures.append((i, repr(exc)))

    threads = [threading.Thread(target=worker, args=(i,)) for i in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert failures == []


def test_small_calls_after_a_huge_one():
    huge = {"k%d" % i: [i, {"s": "v" * 100}] for i in range(5000)}
    assert loads(dumps(huge)) == huge
    assert dumps(NESTED) == NESTED_TEXT and loads(NESTED_TEXT) == NESTED
    cfg = FormatConfig(field_sep=",")
    assert loads(dumps(NESTED, cfg), cfg) == NESTED


# Keys of one length that share their first and last eight bytes share a cache slot.
SAME_SLOT = ["a" * 9 + c + "a" * 10 for c in "bcdefgh"]


@pytest.mark.parametrize("keys", [
    SAME_SLOT,
    ["", "x" * 64, "x" * 65, "x" * 63 + "y", "é", "\U0001F600", "e\u0301"],
    ["k%d" % i for i in range(2000)],  # more keys than the cache holds
], ids=["same-slot", "edges", "many"])
def test_keys_made_from_cached_strs_are_the_texts_keys(keys):
    for _ in range(2):
        for chunk in range(0, len(keys), 300):
            part = keys[chunk:chunk + 300]
            record = {k: i for i, k in enumerate(part)}
            nested = {"o": record, "l": [record]}
            for value in (record, nested):
                result = loads(dumps(value))
                assert result == value
                assert all(type(k) is str for k in result)
