"""Floats of up to 19 digits, most of which the reader converts by one 128-bit multiplication: bit for bit as
float() reads them, for the shortest forms of random doubles, numbers one unit off in their last digit, and
halfway cases between doubles."""
import random
import struct

import pytest

from vardelquin import loads


def bits(x):
    return struct.pack("<d", x)


def tokens(seed, count):
    rng = random.Random(seed)
    out = []
    for _ in range(count):
        x = struct.unpack("<d", rng.getrandbits(63).to_bytes(8, "little"))[0]
        if x != x or x in (float("inf"),):
            continue
        digits, exponent = f"{x:.16e}".split("e")
        mantissa = int(digits.replace(".", "")) + rng.choice((-1, 0, 0, 1))
        power = int(exponent) - 16
        out.append(f"{mantissa}e{power}")
        # The same number with a point and no exponent where that is short.
        if -30 < power < 0:
            text = str(mantissa).rjust(-power + 1, "0")
            out.append(text[:power] + "." + text[power:])
        out.append(f"{rng.getrandbits(rng.randint(1, 64))}e{rng.randint(-330, 320)}")
    return out


HALFWAY = ["9007199254740993", "9007199254740995", "18014398509481987", "9007199254740993.0",
           "900719925474099.25", "4503599627370496.5", "4503599627370497.5", "1.7976931348623157e308",
           "1.7976931348623158e308", "1.7976931348623159e308", "2.2250738585072014e-308", "2.2250738585072011e-308",
           "4.9406564584124654e-324", "2.4703282292062328e-324", "0.30000000000000004", "18446744073709551615e-19",
           "1.00000000000000011102230246251565404236316680908203125", "7.2057594037927945e16"]


@pytest.mark.parametrize("seed", range(4))
def test_random_tokens_read_as_float_reads_them(seed):
    batch = tokens(seed, 2000)
    text = "k=[" + "|".join(batch) + "];"
    got = loads(text)["k"]
    assert [bits(v) for v in got] == [bits(float(t)) for t in batch]


@pytest.mark.parametrize("token", HALFWAY + ["-" + t for t in HALFWAY])
def test_halfway_and_range_edges(token):
    assert bits(loads(f"k={token};")["k"]) == bits(float(token))
