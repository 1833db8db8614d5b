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


# A thread's first call makes the thread's working storage, and the C library allocates per-thread state
# of the module's and of the C++ runtime's on first use, ending the process if it finds no memory. Each call
# here runs first on a new thread that has taken every block malloc can give, then given back a few of the
# smallest, so that memory runs out at different points of the call.
FIRST_CALL_SCRIPT = textwrap.dedent("""
    import ctypes, resource, sys, threading
    import vardelquin
    libc = ctypes.CDLL(None)
    libc.malloc.restype, libc.malloc.argtypes = ctypes.c_void_p, [ctypes.c_size_t]
    libc.free.argtypes = [ctypes.c_void_p]
    config = vardelquin.FormatConfig(field_sep=",", null_str="a keyword too long to be kept inline")
    CALLS = {
        "dumps": lambda: vardelquin.dumps({"b": {"z": 1, "a": [1.5, "x" * 300]}, "a": 2}),
        "dumps with a config": lambda: vardelquin.dumps({"b": {"z": 1, "a": [1.5, None]}}, config),
        "loads": lambda: vardelquin.loads("a={k\\\\==1;b=2};c=[1.5|x];"),
        "loads with a config": lambda: vardelquin.loads("a=a keyword too long to be kept inline,", config),
    }
    held = (ctypes.c_void_p * (1 << 20))()

    def address_space():
        with open("/proc/self/statm") as statm:
            return int(statm.read().split()[0]) * resource.getpagesize()

    def first_call(name, given_back):
        soft, hard = resource.getrlimit(resource.RLIMIT_AS)
        resource.setrlimit(resource.RLIMIT_AS, (address_space(), hard))
        count, size = 0, 1 << 20
        try:
            while size >= 8 and count < len(held):
                block = libc.malloc(size)
                if block:
                    held[count], count = block, count + 1
                else:
                    size //= 2
            while given_back and count:
                count, given_back = count - 1, given_back - 1
                libc.free(held[count])
            try:
                CALLS[name]()
                outcomes.add((name, "result"))
            except MemoryError:
                outcomes.add((name, "MemoryError"))
        finally:
            for i in range(count):
                libc.free(held[i])
            resource.setrlimit(resource.RLIMIT_AS, (soft, hard))

    outcomes = set()
    for name in CALLS:
        for given_back in (0, 1, 2, 3, 5, 8, 12, 16, 24, 32, 48, 64, 96, 128):
            thread = threading.Thread(target=first_call, args=(name, given_back))
            thread.start()
            thread.join()
    print(sorted(outcomes))
""")


@pytest.mark.skipif(not sys.platform.startswith("linux"),
                    reason="the limit is RLIMIT_AS over /proc/self/statm's count, as Linux has them")
@pytest.mark.skipif(bool(os.environ.get("VARDELQUIN_SANITIZED")),
                    reason="the sanitizers reserve more address space than any limit would leave")
def test_first_call_on_a_thread_out_of_memory(tmp_path):
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [os.path.dirname(vardelquin.__file__), env.get("PYTHONPATH")]))
    done = subprocess.run([sys.executable, "-c", FIRST_CALL_SCRIPT], env=env, cwd=str(tmp_path),
                          capture_output=True, text=True, timeout=300)
    assert (done.returncode, done.stderr) == (0, "")
    outcomes = eval(done.stdout)
    names = {name for name, _ in outcomes}
    # Memory ran out in every kind of call (the test reaches what it is for), and nothing else happened.
    assert {(name, "MemoryError") for name in names} <= set(outcomes) and len(names) == 4
    assert {outcome for _, outcome in outcomes} <= {"MemoryError", "result"}
