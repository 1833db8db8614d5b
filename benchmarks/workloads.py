"""Inputs of the benchmark: the real-world corpus and synthetic documents.

Every workload is a dict (the module's top level is always one). A corpus
document whose top level is not a JSON object is wrapped as {"data": ...}.
A corpus document that is missing is replaced by a synthetic stand-in of
the same shape (corpus_shapes.py), so that a bare checkout prints every row.
The synthetic documents are built from a seeded generator, so every run
measures the same data.
"""

from __future__ import annotations

import json
import os
import random
from dataclasses import dataclass
from typing import Any, Dict, List, Optional

import corpus_shapes

CORPUS_FILES = ("canada.json", "citm_catalog.json", "github_events.json", "twitter.json")

# The characters that vardelquin escapes with its default configuration.
DELIMITERS = ";=[]|{}\\"


@dataclass
class Workload:
    name: str
    kind: str  # "corpus" or "synthetic"
    doc: Dict[str, Any]
    description: str
    # Calls per timed batch; None lets the runner calibrate it.
    calls: Optional[int] = None
    # Unit forced in the table ("ns" for the per-call workload), else automatic.
    unit: Optional[str] = None


def load_corpus(directory: Optional[str], quick: bool = False) -> List[Workload]:
    """The corpus documents found in directory, and a stand-in for each one that is not there.

    Stand-ins are a tenth of the size in a quick run.
    """
    workloads = []
    for filename in CORPUS_FILES:
        name = filename[: -len(".json")]
        path = os.path.join(directory, filename) if directory else ""
        if path and os.path.exists(path):
            with open(path, encoding="utf-8") as f:
                doc = json.load(f)
            wrapped = not isinstance(doc, dict)
            if wrapped:
                doc = {"data": doc}
            size = os.path.getsize(path)
            desc = f"{filename}, {size:,} bytes" + (", wrapped as {\"data\": ...}" if wrapped else "")
        else:
            doc = corpus_shapes.generate(name, 0.1 if quick else 1.0)
            size = len(json.dumps(doc, ensure_ascii=False).encode("utf-8"))
            desc = f"synthetic stand-in for {filename} (not found), {size:,} bytes as JSON"
        workloads.append(Workload(name, "corpus", doc, desc))
    return workloads


def record3() -> Dict[str, Any]:
    return {"id": 123456, "name": "mirl", "active": True}


def escapes(n_strings: int, length: int, rng: random.Random) -> Dict[str, Any]:
    # About half of the characters are delimiters, the rest ASCII letters.
    letters = "abcdefghijklmnopqrstuvwxyz"
    doc = {}
    for i in range(n_strings):
        chars = [rng.choice(DELIMITERS) if rng.random() < 0.5 else rng.choice(letters) for _ in range(length)]
        doc[f"s{i:04d}"] = "".join(chars)
    return doc


def ints(n: int, rng: random.Random) -> Dict[str, Any]:
    values = []
    for _ in range(n):
        r = rng.random()
        if r < 0.4:
            values.append(rng.randint(0, 999))
        elif r < 0.8:
            values.append(rng.randint(-10**9, 10**9))
        else:
            values.append(rng.randint(-(2**63), 2**63 - 1))
    return {"ints": values}


def floats(n: int, rng: random.Random) -> Dict[str, Any]:
    values = []
    for _ in range(n):
        x = rng.uniform(-1000.0, 1000.0)
        # Half at full precision (17 significant digits), half as prices.
        values.append(x if rng.random() < 0.5 else round(x, 2))
    return {"floats": values}


def non_ascii(n_strings: int, length: int, rng: random.Random) -> Dict[str, Any]:
    pools = [
        "àáâãäåæçèéêëìíîïñòóôõöøùúûüýÿß",  # Latin-1 (2 UTF-8 bytes)
        "αβγδεζηθικλμνξοπρστυφχψωΑΒΓΔ",  # Greek
        "абвгдежзийклмнопрстуфхцчшщыэюя",  # Cyrillic
        "的一是不了人我在有他这为之大来以个中上们到说国和地",  # CJK (3 bytes)
        "😀😁😂🤣😃😄😅😆😉😊🚀🌍🎉🍕🐍",  # outside the BMP (4 bytes)
    ]
    doc = {}
    for i in range(n_strings):
        pool = pools[i % len(pools)]
        doc[f"t{i:04d}"] = "".join(rng.choice(pool + " ") for _ in range(length))
    return doc


def short_strings(n: int, rng: random.Random) -> Dict[str, Any]:
    letters = "abcdefghijklmnopqrstuvwxyz"
    return {"strings": ["".join(rng.choice(letters) for _ in range(10)) for _ in range(n)]}


def long_text(n_strings: int, length: int, rng: random.Random, delimiter_at: Optional[str]) -> Dict[str, Any]:
    # Greek and Cyrillic letters with spaces (two UTF-8 bytes each), and one
    # ';' (written escaped) at the start, the middle or the end of each.
    pool = "αβγδεζηθικλμνξοπρστυφχψωабвгдежзийклмнопрстуфхцчшщыэюя "
    doc = {}
    for i in range(n_strings):
        chars = [rng.choice(pool) for _ in range(length - (delimiter_at is not None))]
        if delimiter_at is not None:
            at = {"first": 0, "middle": len(chars) // 2, "last": len(chars)}[delimiter_at]
            chars.insert(at, ";")
        doc[f"t{i:04d}"] = "".join(chars)
    return doc


def ints_and_nulls(n: int, rng: random.Random) -> Dict[str, Any]:
    return {"cells": [None if rng.random() < 0.4 else rng.randint(0, 99_999) for _ in range(n)]}


def mesh(n_vertices: int, rng: random.Random) -> Dict[str, Any]:
    # A 3-D mesh: float coordinates and integer triangles, as lists of 3.
    vertices = [[round(rng.uniform(-100, 100), 4) for _ in range(3)] for _ in range(n_vertices)]
    faces = [[rng.randrange(n_vertices) for _ in range(3)] for _ in range(2 * n_vertices)]
    return {"mesh": {"vertices": vertices, "faces": faces}}


def versions(n: int, rng: random.Random) -> Dict[str, Any]:
    # Strings that start like numbers but are not (3.10.2, 2.0.0-rc1).
    doc = {}
    for i in range(n):
        v = f"{rng.randint(0, 12)}.{rng.randint(0, 40)}.{rng.randint(0, 99)}"
        doc[f"package-{i:05d}"] = v + ("-rc1" if rng.random() < 0.1 else "")
    return {"versions": doc}


# Words of several scripts, for prose: two-byte (Latin with diacritics,
# Greek, Cyrillic, Arabic) and three-byte (Devanagari, CJK).
PROSE_WORDS = (
    "été", "über", "façade", "niño", "smörgåsbord", "Łódź", "ćwierć",
    "λόγος", "θάλασσα", "ἀρχή", "φιλοσοφία", "καλημέρα",
    "правда", "жизнь", "здравствуйте", "мир", "книга",
    "سلام", "كتاب", "مدينة",
    "नमस्ते", "भारत", "पुस्तक",
    "日本語", "東京", "春夏秋冬", "学校",
)
PROSE_PUNCTUATION = (" ", " ", " ", " ", ", ", ". ", "; ", " = ", " | ", " [", "] ", " {", "} ", " \\ ")


def prose(n_paragraphs: int, words: int, rng: random.Random) -> Dict[str, Any]:
    # Long paragraphs of non-ASCII words, with spaces, punctuation and
    # vardelquin's delimiters (written escaped) between them.
    chapters = []
    for c in range(0, n_paragraphs, 20):
        paragraphs = []
        for _ in range(min(20, n_paragraphs - c)):
            parts = []
            for _ in range(words):
                parts.append(rng.choice(PROSE_WORDS))
                parts.append(rng.choice(PROSE_PUNCTUATION))
            paragraphs.append("".join(parts))
        chapters.append({"title": rng.choice(PROSE_WORDS), "number": c // 20 + 1, "paragraphs": paragraphs})
    return {"book": chapters}


def version_index(n: int, rng: random.Random) -> Dict[str, Any]:
    # A package index: version-like strings (which start like numbers and
    # are not) beside a few names and summaries that are not ASCII.
    names = ("zeta", "kafé", "λambda", "mir", "tool", "core")
    packages = []
    for i in range(n):
        def version() -> str:
            v = f"{rng.randint(0, 12)}.{rng.randint(0, 40)}.{rng.randint(0, 99)}"
            return v + (rng.choice(("-rc1", "-beta.2", ".post1")) if rng.random() < 0.15 else "")
        packages.append({
            "name": f"{rng.choice(names)}-{i}",
            "version": version(),
            "requires": [f">={version()}", f"<{version()}"],
            "released": f"20{rng.randint(10, 26)}.{rng.randint(1, 12):02d}.{rng.randint(1, 28):02d}",
            "summary": " ".join(rng.choice(PROSE_WORDS[:17]) for _ in range(3)),
        })
    return {"packages": packages}


def build_index(n: int, rng: random.Random, keys_in_order: bool) -> Dict[str, Any]:
    # A build server's job index: many small objects, mostly URLs, whose
    # keys come in the server's order, not in byte order (or, for the
    # twin, already in byte order: the same text, written without moving
    # any key).
    results = ("SUCCESS", "FAILURE", "UNSTABLE", "ABORTED")
    jobs = []
    for i in range(n):
        name = f"{rng.choice(('core', 'web', 'docs', 'cli', 'sdk'))}-{rng.choice(('main', 'release', 'pr'))}-{i}"
        base = f"https://ci.example.org/job/{name}/"
        job = {
            "name": name,
            "url": base,
            "color": rng.choice(("blue", "red", "yellow", "notbuilt")),
            "lastBuild": f"{base}{rng.randint(1, 5000)}/",
            "result": rng.choice(results),
            "artifacts": f"{base}lastSuccessfulBuild/artifact/",
            "id": i,
        }
        jobs.append(dict(sorted(job.items())) if keys_in_order else job)
    return {"jobs": jobs}


def deep(levels: int) -> Dict[str, Any]:
    # Lists and objects alternate; each level also holds a small scalar.
    value: Any = "leaf"
    for i in range(levels):
        value = [value, i] if i % 2 == 0 else {"k": value}
    return {"root": value}


def synthetic(quick: bool) -> List[Workload]:
    rng = random.Random(20240607)
    scale = 10 if quick else 1
    n_record_calls = 2_000 if quick else 100_000
    return [
        Workload(
            "record3", "synthetic", record3(),
            f"flat record of 3 keys (int, str, bool), {n_record_calls:,} calls per timed batch",
            calls=n_record_calls, unit="ns",
        ),
        Workload(
            "escapes", "synthetic", escapes(200 // scale, 500, rng),
            f"{200 // scale} strings of 500 chars, about half of them ; = [ ] | {{ }} \\",
        ),
        Workload(
            "ints", "synthetic", ints(100_000 // scale, rng),
            f"list of {100_000 // scale:,} ints (small, 32-bit and 64-bit)",
        ),
        Workload(
            "floats", "synthetic", floats(100_000 // scale, rng),
            f"list of {100_000 // scale:,} floats in (-1000, 1000), half with 2 decimals",
        ),
        Workload(
            "non_ascii", "synthetic", non_ascii(1000 // scale, 100, rng),
            f"{1000 // scale} strings of 100 chars: Latin-1, Greek, Cyrillic, CJK, emoji",
        ),
        Workload(
            "short_strings", "synthetic", short_strings(300_000 // scale, rng),
            f"list of {300_000 // scale:,} strings of 10 ASCII letters",
        ),
        *(
            Workload(
                name, "synthetic", long_text(1000 // scale, 1000, rng, at),
                f"{1000 // scale} strings of 1,000 Greek and Cyrillic chars"
                + (f", a ';' (escaped) {where} each" if at else ", no delimiters"),
            )
            for name, at, where in (("long_text", None, ""), ("escape_first", "first", "at the start of"),
                                    ("escape_middle", "middle", "in the middle of"),
                                    ("escape_last", "last", "at the end of"))
        ),
        Workload(
            "ints_nulls", "synthetic", ints_and_nulls(200_000 // scale, rng),
            f"list of {200_000 // scale:,} values: ints below 100,000, 40% None",
        ),
        Workload(
            "mesh", "synthetic", mesh(30_000 // scale, rng),
            f"3-D mesh: {30_000 // scale:,} float vertices and {60_000 // scale:,} int triangles, lists of 3",
        ),
        Workload(
            "versions", "synthetic", versions(20_000 // scale, rng),
            f"a dict of {20_000 // scale:,} version strings (3.10.2, 2.0.0-rc1)",
        ),
        Workload(
            "prose", "synthetic", prose(600 // scale, 400, rng),
            f"{600 // scale:,} paragraphs of 400 words in seven scripts, with punctuation and delimiters",
        ),
        Workload(
            "version_index", "synthetic", version_index(4000 // scale, rng),
            f"{4000 // scale:,} packages: version strings, version ranges, dates, non-ASCII summaries",
        ),
        *(
            Workload(
                name, "synthetic", build_index(20_000 // scale, random.Random(20240607), in_order),
                f"{20_000 // scale:,} small objects of 7 keys, mostly URLs, keys {order}",
            )
            for name, in_order, order in (("build_index", False, "out of order"),
                                          ("build_index_sorted", True, "already in order"))
        ),
        Workload(
            "deep", "synthetic", deep(500),
            "500 levels of alternately nested lists and objects",
        ),
    ]
