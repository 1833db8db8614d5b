#!/usr/bin/env python3
"""Generates src/core/writer/pow10_table.inc, the constants of the
shortest-digits routine (src/core/writer/shortest_digits.h), and proves the
bounds that routine relies on.

The routine follows Raffaello Giulietti's "The Schubfach way to render
doubles". For a double v = c * 2^q it picks k such that 10^k is no wider than
the rounding interval of v, then compares the interval's bounds with
multiples of 10^k and 10^(k+1). Scaled by 10^-k, a bound is
    x = cp * 10^e / 2^(L + 1),   e = -k,  L = floor(log2 10^e),
where cp is 4c - 2, 4c - 1, 4c or 4c + 2 shifted left by h = q + L + 1. The
routine approximates 10^e by
    g(e) = floor(10^e * 2^(127 - L)) + 1,   2^127 <= g(e) < 2^128,
and computes x~ = cp * g(e) / 2^128 = x + err, where 0 < err <= cp / 2^128.
It keeps floor(x~) and whether frac(x~) > cp / 2^128. When x is an integer,
frac(x~) = err, so that test fails and floor(x~) = x. The routine is exact
when the test also succeeds for every x that is not an integer, and
floor(x~) = floor(x) for those, that is when
    cp / 2^128 < frac(x)   and   cp / 2^128 < 1 - frac(x).
This script proves both for every q, using the records of the residues
(m * a) mod d found by a continued-fraction walk; it also checks the integer
formulas for the logarithms, the range of h and the table's range.

Usage: gen_pow10_table.py [--output FILE]
"""

import argparse
import decimal
import math
import pathlib
import random
import sys
from fractions import Fraction

REPO_ROOT = pathlib.Path(__file__).resolve().parent.parent
DEFAULT_OUTPUT = REPO_ROOT / "src" / "core" / "writer" / "pow10_table.inc"

# Doubles are c * 2^q with integers 0 < c < 2^53 and Q_MIN <= q <= Q_MAX.
C_MAX = 2**53 - 1
Q_MIN, Q_MAX = -1074, 2046 - 1075
# Where the gap below v is half the gap above: c = 2^52, q > Q_MIN.
C_IRREGULAR = 2**52
Q_MIN_IRREGULAR = Q_MIN + 1


def floor_log(base, x):
    """floor(log_base(x)) for a positive rational x, exactly."""
    x = Fraction(x)
    k = int((x.numerator.bit_length() - x.denominator.bit_length()) / math.log2(base))
    while Fraction(base) ** k > x:
        k -= 1
    while Fraction(base) ** (k + 1) <= x:
        k += 1
    return k


def log10_pow2(q):
    return floor_log(10, Fraction(2) ** q)


def log10_three_quarters_pow2(q):
    return floor_log(10, Fraction(3, 4) * Fraction(2) ** q)


def log2_pow10(e):
    return floor_log(2, Fraction(10) ** e)


def find_formula(name, exact, domain, slope, offset=0):
    """The smallest shift s, with multiplier m and addend a, such that
    (x * m + a) >> s == exact(x) all over the domain, in int32 arithmetic."""
    wanted = {x: exact(x) for x in domain}
    for shift in range(8, 31):
        scale = decimal.Decimal(2) ** shift
        m0 = int((slope * scale).to_integral_value(decimal.ROUND_FLOOR))
        a0 = int((offset * scale).to_integral_value(decimal.ROUND_FLOOR))
        for m in (m0, m0 + 1):
            for a in ((a0, a0 + 1) if offset else (0,)):
                if max(abs(x * m + a) for x in domain) >= 2**31:
                    continue
                if all((x * m + a) >> shift == k for x, k in wanted.items()):
                    return m, a, shift
    sys.exit(f"no integer formula for {name}")


def records(a, d, m_max):
    """The records of (m * a) mod d over 1 <= m <= m_max, for 0 < a < d
    coprime and m_max < d: each m whose residue is below that of every
    smaller m. Yields runs (p, r, n, s, j): records p + i * n with residues
    r - i * s, for 0 <= i <= j.

    The walk keeps the last records from above, p * a = r (mod d), and from
    below, n * a = -s (mod d), with r * n + s * p = d. The next record on
    either side adds the other side's multiplier, as many times as the
    residue stays positive and the multiplier within m_max."""
    p, r = 1, a % d
    n, s = 0, d
    yield 1, r, 0, 0, 0
    while True:
        if r < s:
            j = min((s - 1) // r, (m_max - n) // p)
            if j == 0:
                break
            n, s = n + j * p, s - j * r
        elif s < r:
            j = min((r - 1) // s, (m_max - p) // n)
            if j == 0:
                break
            yield p + n, r - s, n, s, j - 1
            p, r = p + j * n, r - j * s
        else:
            break  # the next multiplier, n + p >= d, has residue 0
    yield m_max + 1, None, None, None, None  # where the last record ends


def residue_bounds(a, d, m_max):
    """Over 1 <= m <= m_max: a lower bound on ((m * a) mod d) / m, and the
    least (-m * a) mod d. A record's residue bounds every m before the next
    record; within a run the ratio is least at its next-to-last record."""
    runs = list(records(a, d, m_max))
    ratio = Fraction(d)
    for (p, r, n, s, j), (next_p, *_) in zip(runs, runs[1:]):
        ratio = min(ratio, Fraction(r - j * s, next_p - 1))
        if j > 0:
            ratio = min(ratio, Fraction(r - (j - 1) * s, p + j * n - 1))
    gap = min(r - j * s for _, r, _, s, j in records(d - a, d, m_max) if r is not None)
    return ratio, gap


def self_test():
    rng = random.Random(1)
    for _ in range(3000):
        d = rng.randrange(2, 2000)
        a = rng.randrange(1, d)
        if math.gcd(a, d) != 1:
            continue
        m_max = rng.randrange(1, d)
        residues = [m * a % d for m in range(1, m_max + 1)]
        expected, best = [], d
        for m, residue in enumerate(residues, 1):
            if residue < best:
                best = residue
                expected.append((m, residue))
        walked = [(p + i * n, r - i * s) for p, r, n, s, j in records(a, d, m_max)
                  if r is not None for i in range(j + 1)]
        assert walked == expected, (a, d, m_max)
        ratio, gap = residue_bounds(a, d, m_max)
        assert ratio <= min(Fraction(x, m) for m, x in enumerate(residues, 1))
        assert gap == min(d - x for x in residues)


def g_of(e):
    """g(e) and L = floor(log2 10^e)."""
    big_l = log2_pow10(e)
    exact = Fraction(10) ** e * Fraction(2) ** (127 - big_l)
    g = math.floor(exact) + 1
    assert 2**127 <= g < 2**128 and 0 < g - exact <= 1, e
    return g, big_l


def check_regular(q, k):
    """Bounds of the intervals of c * 2^q, 1 <= c <= C_MAX, c != 2^52 or
    q == Q_MIN: cp = (4c + 2i) << h = j * 2^(h+1), 1 <= j <= 2 C_MAX + 1."""
    e = -k
    big_l = log2_pow10(e)
    h = q + big_l + 1
    assert 1 <= h <= 4, q
    x = Fraction(10) ** e / Fraction(2) ** (big_l + 1) * 2 ** (h + 1)  # x = j * this
    a, d = x.numerator, x.denominator
    j_max = 2 * C_MAX + 1
    if d <= 2**64:
        return None  # frac(x) is 0 or at least 2^-64 from 0 and 1; cp < 2^60
    ratio, gap = residue_bounds(a % d, d, j_max)
    # For every j: cp / 2^128 < frac(x) = res / d, cp = j * 2^(h+1).
    margin_up = ratio * 2**128 / (d * 2 ** (h + 1))
    # cp / 2^128 < 1 - frac(x), cp at most j_max * 2^(h+1).
    margin_down = Fraction(gap * 2**128, d * j_max * 2 ** (h + 1))
    assert margin_up > 1 and margin_down > 1, q
    return min(margin_up, margin_down)


def check_irregular(q, k):
    """c = 2^52 with the narrower lower half interval: three bounds."""
    e = -k
    big_l = log2_pow10(e)
    h = q + big_l + 1
    assert 1 <= h <= 4, q
    margin = None
    for cb in (4 * C_IRREGULAR - 1, 4 * C_IRREGULAR, 4 * C_IRREGULAR + 2):
        cp = cb << h
        x = cp * Fraction(10) ** e / Fraction(2) ** (big_l + 1)
        frac = x - math.floor(x)
        if frac != 0:
            m = min(frac, 1 - frac) * 2**128 / cp
            assert m > 1, q
            margin = m if margin is None else min(margin, m)
    return margin


def generate():
    self_test()
    regular_qs = range(Q_MIN, Q_MAX + 1)
    irregular_qs = range(Q_MIN_IRREGULAR, Q_MAX + 1)

    decimal.getcontext().prec = 80
    log10_2 = decimal.Decimal(2).log10()
    log10_3_4 = (decimal.Decimal(3) / 4).log10()
    log2_10 = decimal.Decimal(10).ln() / decimal.Decimal(2).ln()
    pow2 = find_formula("floor(q log10 2)", log10_pow2, regular_qs, log10_2)
    three_quarters = find_formula("floor(log10(3/4 2^q))", log10_three_quarters_pow2,
                                  irregular_qs, log10_2, log10_3_4)

    margins = []
    ks = set()
    for q in regular_qs:
        k = log10_pow2(q)
        ks.add(k)
        margins.append(check_regular(q, k))
    for q in irregular_qs:
        k = log10_three_quarters_pow2(q)
        ks.add(k)
        margins.append(check_irregular(q, k))
    worst = min(m for m in margins if m is not None)
    e_min, e_max = -max(ks), -min(ks)
    pow10 = find_formula("floor(e log2 10)", log2_pow10, range(e_min, e_max + 1), log2_10)

    lines = [
        "// Generated by tools/gen_pow10_table.py; never edit by hand.",
        "//",
        "// Constants of the shortest-digits routine in shortest_digits.h. The",
        "// generator checks the logarithm formulas over their whole domains and",
        "// proves that a scaled interval bound that is not an integer lies more",
        "// than cp / 2^128 from the integers, by a factor of at least "
        f"{float(worst):.1f}.",
        "",
        "// floor(log10(2^q)) = (q * m) >> s, for every q of a double.",
        f"inline constexpr int log10_pow2_multiplier = {pow2[0]};",
        f"inline constexpr int log10_pow2_shift = {pow2[2]};",
        "// floor(log10(3/4 * 2^q)) = (q * m + a) >> s, for q above the least one.",
        f"inline constexpr int log10_three_quarters_pow2_multiplier = {three_quarters[0]};",
        f"inline constexpr int log10_three_quarters_pow2_addend = {three_quarters[1]};",
        f"inline constexpr int log10_three_quarters_pow2_shift = {three_quarters[2]};",
        "// floor(log2(10^e)) = (e * m) >> s, for every e in the table.",
        f"inline constexpr int log2_pow10_multiplier = {pow10[0]};",
        f"inline constexpr int log2_pow10_shift = {pow10[2]};",
        "",
        "// g(e) = floor(10^e * 2^(127 - floor(log2 10^e))) + 1, in [2^127, 2^128),",
        "// as {high 64 bits, low 64 bits}, for e from pow10_min_exponent up.",
        f"inline constexpr int pow10_min_exponent = {e_min};",
        f"inline constexpr int pow10_max_exponent = {e_max};",
        f"inline constexpr std::uint64_t pow10_table[{e_max - e_min + 1}][2] = {{",
    ]
    for e in range(e_min, e_max + 1):
        g, _ = g_of(e)
        lines.append(f"    {{0x{g >> 64:016x}, 0x{g & (2**64 - 1):016x}}},  // 1e{e}")
    lines.append("};")
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--output", type=pathlib.Path, default=DEFAULT_OUTPUT)
    args = parser.parse_args()
    args.output.write_text(generate())


if __name__ == "__main__":
    main()
