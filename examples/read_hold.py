"""A configuration is held for reading while dumps uses it.

While dumps runs Python code of the data (an object's __str__), another
thread may run; assigning to a property of the configuration that dumps
holds then raises RuntimeError "Already borrowed", and the configuration
keeps its value. Change a configuration between calls, or give each thread
its own.

    python examples/read_hold.py
"""
from __future__ import annotations

import threading

import vardelquin
from vardelquin import FormatConfig


def change_during_dumps(config: FormatConfig) -> tuple[str, str]:
    """(what the other thread's assignment gave, the text dumps wrote)."""
    outcome = []

    class Slow:
        def __str__(self) -> str:
            # Runs inside dumps, with config held: let another thread try to change it.
            other = threading.Thread(target=assign)
            other.start()
            other.join()
            return "slow"

    def assign() -> None:
        try:
            config.kv_sep = ":"
            outcome.append("changed")
        except RuntimeError as error:
            outcome.append(str(error))

    text = vardelquin.dumps({"a": Slow()}, config)
    return outcome[0], text


if __name__ == "__main__":
    config = FormatConfig()
    print(change_during_dumps(config))  # ('Already borrowed', 'a=slow;')
    config.kv_sep = ":"                  # between calls, the assignment is allowed
    print(vardelquin.dumps({"a": 1}, config))  # a:1;
