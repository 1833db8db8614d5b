"""Running out of memory is the interpreter's MemoryError, with nothing printed, and changes no result.

Each case runs in its own process under an address-space limit set just above what the process already
uses: the input is built first, then the call gets too little room for what it must allocate, and after
the limit is lifted the same call succeeds.
"""
import os
import subprocess
import sys
import textwrap

import pytest

import vardelquin

SCRIPT = textwrap.dedent("""
    import resource, sys
    import vardelquin
    MB = 1 << 20
    N = 64 * MB
    M = 4 * MB
    CASES = {
        # Only the result's str is large: the reader's value views the text.
        "loads-long-string": (lambda: "a=" + "x" * N + ";", N // 2, vardelquin.loads,
                              lambda r: len(r["a"]) == N),
        # The reader rewrites a number with a huge exponent before converting it.
        "loads-huge-number": (lambda: "a=1" + "0" * N + "e-" + str(N) + ";", N // 2, vardelquin.loads,
                              lambda r: r == {"a": 1.0}),
        "loads-many-items": (lambda: "a=[" + "|".join(["1.5"] * M) + "];", 32 * MB, vardelquin.loads,
                             lambda r: r["a"] == [1.5] * M),
        # Room for the writer's buffer (twice the text, for escapes), not for the result's str.
        "dumps-long-string": (lambda: {"a": "x" * N}, 5 * N // 2, vardelquin.dumps,
                              lambda r: len(r) == N + 3),
        "dumps-many-items": (lambda: {"a": [1.5] * M}, 16 * MB, vardelquin.dumps,
                             lambda r: r == "a=[" + "|".join(["1.5"] * M) + "];"),
    }
    make, headroom, call, check = CASES[sys.argv[1]]
    argument = make()

    def address_space():
        with open("/proc/self/statm") as statm:
            return int(statm.read().split()[0]) * resource.getpagesize()

    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    resource.setrlimit(resource.RLIMIT_AS, (address_space() + headroom, hard))
    try:
        call(argument)
    except MemoryError as exc:
        outcome = "MemoryError" if exc.__cause__ is None else "MemoryError with a cause"
    except BaseException as exc:
        outcome = "%s.%s" % (type(exc).__module__, type(exc).__name__)
    else:
        outcome = "no error"
    finally:
        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
    print(outcome, check(call(argument)))
""")


@pytest.mark.skipif(not sys.platform.startswith("linux"),
                    reason="the limit is RLIMIT_AS over /proc/self/statm's count, as Linux has them")
@pytest.mark.skipif(bool(os.environ.get("VARDELQUIN_SANITIZED")),
                    reason="the sanitizers reserve more address space than any limit would leave")
@pytest.mark.parametrize("case", ["loads-long-string", "loads-huge-number", "loads-many-items",
                                  "dumps-long-string", "dumps-many-items"])
def test_memory_exhaustion_is_memory_error(case, tmp_path):
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [os.path.dirname(vardelquin.__file__), env.get("PYTHONPATH")]))
    done = subprocess.run([sys.executable, "-c", SCRIPT, case], env=env, cwd=str(tmp_path),
                          capture_output=True, text=True, timeout=300)
    assert (done.returncode, done.stdout, done.stderr) == (0, "MemoryError True\n", "")


# A thread's first call makes the thread's working storage, which registers its destructor with the C
# library: a registration that finds no memory ends the process. Each call here runs on a new thread, under
# limits that leave it short of memory at different points of the call.
FIRST_CALL_SCRIPT = textwrap.dedent("""
    import resource, sys, threading
    import vardelquin
    M = 4 << 20
    if sys.argv[1] == "loads":
        # An escaped member key, which loads keeps apart from the text.
        call, argument = vardelquin.loads, "a={k\\\\==[" + "|".join(["1.5"] * M) + "]};"
    else:
        call, argument = vardelquin.dumps, {"a": {"k=": [1.5] * M, "b": "x" * M}}

    def address_space():
        with open("/proc/self/statm") as statm:
            return int(statm.read().split()[0]) * resource.getpagesize()

    outcomes = set()

    def first_call(headroom):
        soft, hard = resource.getrlimit(resource.RLIMIT_AS)
        resource.setrlimit(resource.RLIMIT_AS, (address_space() + headroom, hard))
        try:
            call(argument)
            outcomes.add("no error")
        except MemoryError:
            outcomes.add("MemoryError")
        finally:
            resource.setrlimit(resource.RLIMIT_AS, (soft, hard))

    for megabytes in (4, 8, 16, 24, 32, 48, 64, 96, 128):
        thread = threading.Thread(target=first_call, args=(megabytes << 20,))
        thread.start()
        thread.join()
    print(",".join(sorted(outcomes)), call(argument) is not None)
""")


@pytest.mark.skipif(bool(os.environ.get("VARDELQUIN_SANITIZED")),
                    reason="the sanitizers reserve more address space than any limit would leave")
@pytest.mark.parametrize("direction", ["loads", "dumps"])
def test_first_call_on_a_thread_short_of_memory(direction, tmp_path):
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [os.path.dirname(vardelquin.__file__), env.get("PYTHONPATH")]))
    done = subprocess.run([sys.executable, "-c", FIRST_CALL_SCRIPT, direction], env=env, cwd=str(tmp_path),
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0 and done.stderr == "", done.stderr
    outcomes, succeeded = done.stdout.rsplit(" ", 1)
    assert set(outcomes.split(",")) <= {"MemoryError", "no error"} and succeeded == "True\n"
