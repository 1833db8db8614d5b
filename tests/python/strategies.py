"""Shared generators of configurations, texts and values for the property tests."""
from hypothesis import HealthCheck, settings, strategies as st

from model import DEFAULTS, DELIMITERS, INT_MAX, INT_MIN, Config, delimiters, keywords

PROPERTY = settings(derandomize=True, database=None, max_examples=300, deadline=None,
                    suppress_health_check=list(HealthCheck))

# Delimiters that are likely to collide with numbers, keywords and each other.
_DELIM_POOL = ";=[]|{}\\,:()<>%/#&!'\"`~\t\n\x00 e.-+019aEnt"
_EXOTIC = ["\x00", "\n", "\t", " ", "é", "€", "\U0001f600", "\u00a0", "\u0301", "0", "1", ".", "e", "-", "+"]


@st.composite
def _custom_configs(draw):
    picks = draw(st.lists(st.one_of(st.sampled_from(_DELIM_POOL), st.characters(max_codepoint=127)),
                          min_size=8, max_size=10))
    delims = list(dict.fromkeys(picks + draw(st.permutations(_DELIM_POOL))))[:len(DELIMITERS)]
    letter = st.one_of(st.sampled_from("nultrfaseNT01.-+eé€ x"),
                       st.characters(blacklist_categories=("Cs",))).filter(lambda c: c not in delims)
    words = draw(st.lists(st.text(letter, min_size=1, max_size=5), min_size=3, max_size=3, unique=True))
    return Config(*delims, *words)


configs = st.one_of(st.just(DEFAULTS), _custom_configs())


def texts(cfg, **kw):
    """Strings rich in the configuration's delimiters, escapes, controls, NUL and non-ASCII."""
    pool = list(delimiters(cfg)) + list("".join(keywords(cfg))) + _EXOTIC
    alphabet = st.one_of(st.sampled_from(pool), st.characters(blacklist_categories=("Cs",)))
    return st.text(alphabet, **kw)


def structured_texts(cfg):
    """Texts made of delimiters, keywords, numbers and short random pieces."""
    pieces = list(delimiters(cfg)) * 3 + list(keywords(cfg)) + ["1", "-2.5", "x", "é", "nan", "1e9"]
    return st.lists(st.one_of(st.sampled_from(pieces), texts(cfg, max_size=3)), max_size=25).map("".join)


def values(cfg, extras=False, plain=False):
    """Nested values; `plain` leaves out NaN and strings that spell keywords or numbers."""
    scalars = [st.none(), st.booleans(), st.integers(INT_MIN, INT_MAX), st.floats(allow_nan=not plain),
               texts(cfg, max_size=8), texts(cfg, min_size=12, max_size=60),
               st.sampled_from([INT_MIN, INT_MAX, 0.0, -0.0, 1e300, 0.1])]
    if not plain:
        scalars.append(st.sampled_from(keywords(cfg) + ("30", "-1.5", "")))
    if extras:  # objects written through str(), and integers beyond 64 bits
        scalars += [st.tuples(st.integers(), texts(cfg, max_size=3)), st.integers()]
    return st.recursive(st.one_of(scalars), lambda inner: st.one_of(
        st.lists(inner, max_size=4), st.dictionaries(texts(cfg, max_size=5), inner, max_size=4)),
        max_leaves=10)


def dicts(cfg, extras=False, plain=False):
    keys = st.one_of(texts(cfg, max_size=6), texts(cfg, min_size=12, max_size=40))
    return st.dictionaries(keys, values(cfg, extras, plain), max_size=5)
