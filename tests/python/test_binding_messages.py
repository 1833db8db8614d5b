"""The binding's own messages (src/binding/messages.h), one row each, as a caller sees them.

The sub-interpreter and second-initialisation messages are pinned by test_subinterpreters.py and
test_module.py, the uninitialised instance's by test_uninitialised_instances.py: each needs a process of
its own. The rest guard states no caller can reach (a class made twice at once, a failed API call).
"""
import pytest

from vardelquin import FormatConfig, dumps, loads


class _Meddler:
    """Changes the configuration that the running dumps reads."""

    def __init__(self, config):
        self.config = config

    def __str__(self):
        self.config.field_sep = ","
        return "x"


def _meddle():
    config = FormatConfig()
    dumps({"k": _Meddler(config)}, config)


CASES = [
    (lambda: dumps({}, None, 1), TypeError, "dumps() takes from 1 to 2 positional arguments but 3 were given"),
    (lambda: FormatConfig(*";=[]|{}\\", "n", "t", "f", "x"), TypeError,
     "FormatConfig.__new__() takes from 0 to 11 positional arguments but 12 were given"),
    (lambda: loads(), TypeError, "loads() missing 1 required positional argument: 's'"),
    (lambda: dumps({}, obj={}), TypeError, "dumps() got multiple values for argument 'obj'"),
    (lambda: loads("", sep=1), TypeError, "loads() got an unexpected keyword argument 'sep'"),
    (lambda: loads(1), TypeError, "argument 's': 'int' object cannot be cast as 'str'"),
    (lambda: FormatConfig(kv_sep="=="), ValueError, "expected a string of length 1"),
    (lambda: delattr(FormatConfig(), "escape"), AttributeError, "can't delete attribute"),
    (_meddle, RuntimeError, "Already borrowed"),
]


@pytest.mark.parametrize("call, kind, message", CASES, ids=[c[2][:40] for c in CASES])
def test_binding_message(call, kind, message):
    with pytest.raises(kind) as raised:
        call()
    assert type(raised.value) is kind and str(raised.value) == message
