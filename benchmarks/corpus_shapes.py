"""Synthetic stand-ins for the four corpus documents, for a checkout without the corpus.

Each generator builds, from a seeded generator, a document of the same
shape and about the same size as the corpus file it stands in for, so that
every row of the report prints and the shapes that matter for speed are
there: twitter-like nested records with non-ASCII text, citm-like many
small objects keyed by integers, canada-like deep arrays of float
coordinates, github-events-like nested records with URLs and nulls.
"""

from __future__ import annotations

import random
from typing import Any, Callable, Dict, List

WORDS = ("data", "open", "stream", "river", "night", "city", "light", "music", "paper", "signal", "garden", "north")
NON_ASCII = ("東京", "café", "naïve", "Zürich", "Ελλάδα", "Москва", "😀", "🚀", "ありがとう", "señor", "façade", "서울")
LANGS = ("en", "ja", "es", "de", "fr", "ko", "ru")


def _text(rng: random.Random, words: int) -> str:
    return " ".join(rng.choice(NON_ASCII) if rng.random() < 0.3 else rng.choice(WORDS) for _ in range(words))


def _date(rng: random.Random) -> str:
    return (f"Sun Aug {rng.randint(10, 31)} {rng.randint(0, 23):02d}:{rng.randint(0, 59):02d}:"
            f"{rng.randint(0, 59):02d} +0000 2014")


def twitter(rng: random.Random, scale: float) -> Dict[str, Any]:
    statuses: List[Dict[str, Any]] = []
    for i in range(max(1, int(100 * scale))):
        uid = rng.randint(10**8, 10**10)
        user = {
            "id": uid, "id_str": str(uid), "name": _text(rng, 2), "screen_name": f"user_{uid % 100000}",
            "location": rng.choice(NON_ASCII + ("", "")), "description": _text(rng, rng.randint(0, 40)),
            "url": None if rng.random() < 0.6 else f"http://t.co/{uid:x}",
            "entities": {"description": {"urls": []}}, "protected": False,
            "followers_count": rng.randint(0, 50000), "friends_count": rng.randint(0, 5000),
            "created_at": _date(rng), "favourites_count": rng.randint(0, 9999), "utc_offset": None,
            "time_zone": None, "geo_enabled": rng.random() < 0.2, "verified": False,
            "statuses_count": rng.randint(1, 90000), "lang": rng.choice(LANGS),
            "profile_image_url": f"http://pbs.twimg.com/profile_images/{uid}/a_normal.jpeg",
            "profile_background_color": f"{rng.randrange(1 << 24):06X}", "default_profile": rng.random() < 0.5,
            "following": False, "notifications": False,
        }
        tid = 505874924095815681 + i * 7919
        hashtags = [{"text": rng.choice(NON_ASCII), "indices": [rng.randint(0, 60), rng.randint(61, 140)]}
                    for _ in range(rng.randint(0, 3))]
        statuses.append({
            "metadata": {"result_type": "recent", "iso_language_code": rng.choice(LANGS)},
            "created_at": _date(rng), "id": tid, "id_str": str(tid), "text": _text(rng, rng.randint(5, 25)),
            "source": "<a href=\"http://twitter.com/download/iphone\" rel=\"nofollow\">Twitter for iPhone</a>",
            "truncated": False, "in_reply_to_status_id": None, "in_reply_to_user_id": None, "user": user,
            "geo": None, "coordinates": None, "place": None, "contributors": None,
            "retweet_count": rng.randint(0, 500), "favorite_count": rng.randint(0, 500),
            "entities": {"hashtags": hashtags, "symbols": [], "urls": [],
                         "user_mentions": [{"screen_name": f"user_{rng.randint(0, 99999)}", "name": _text(rng, 2),
                                            "id": rng.randint(10**8, 10**10),
                                            "indices": [0, rng.randint(5, 15)]} for _ in range(rng.randint(0, 2))]},
            "favorited": False, "retweeted": False, "lang": rng.choice(LANGS),
        })
        if statuses[:-1] and rng.random() < 0.6:  # a retweet carries the whole status it repeats
            statuses[-1]["retweeted_status"] = dict(rng.choice(statuses[:-1]))
            statuses[-1]["retweeted_status"].pop("retweeted_status", None)
    return {"statuses": statuses, "search_metadata": {
        "completed_in": 0.087, "max_id": 505874924095815681, "max_id_str": "505874924095815681",
        "next_results": "?max_id=505874915338104831&q=%E4%B8%80&count=100&include_entities=1",
        "query": "%E4%B8%80", "refresh_url": "?since_id=505874924095815681&q=%E4%B8%80&include_entities=1",
        "count": 100, "since_id": 0, "since_id_str": "0"}}


def citm_catalog(rng: random.Random, scale: float) -> Dict[str, Any]:
    def ids(n: int) -> List[int]:
        return [rng.randint(100_000_000, 999_999_999) for _ in range(n)]

    area_ids, block_ids, seat_ids, topic_ids = ids(20), ids(60), ids(60), ids(30)
    names = {str(i): f"{rng.choice(WORDS).title()} {rng.choice(NON_ASCII)}" for i in area_ids + seat_ids + topic_ids}
    events: Dict[str, Any] = {}
    performances = []
    for _ in range(max(1, int(520 * scale))):
        event_id = rng.randint(100_000_000, 999_999_999)
        events[str(event_id)] = {
            "description": None, "id": event_id,
            "logo": None if rng.random() < 0.5 else f"/images/UE0AAAAA{event_id:x}",
            "name": _text(rng, 3), "subTopicIds": rng.sample(topic_ids, 3), "subjectCode": None, "subtitle": None,
            "topicIds": rng.sample(topic_ids, 2),
        }
        for _ in range(rng.randint(1, 3)):
            seats = rng.sample(seat_ids, rng.randint(2, 6))
            performances.append({
                "eventId": event_id, "id": rng.randint(100_000_000, 999_999_999), "logo": None, "name": None,
                "prices": [{"amount": rng.randrange(5000, 200000, 250), "audienceSubCategoryId": 337100890,
                            "seatCategoryId": s} for s in seats],
                "seatCategories": [{"areas": [{"areaId": a, "blockIds": []}
                                              for a in rng.sample(area_ids, rng.randint(1, 8))],
                                    "seatCategoryId": s} for s in seats],
                "seatMapImage": None, "start": 1372701600000 + rng.randrange(0, 10**10, 60000),
                "venueCode": "PLEYEL_PLEYEL",
            })
    return {
        "areaNames": {str(a): names[str(a)] for a in area_ids}, "audienceSubCategoryNames": {"337100890": "Abonné"},
        "blockNames": {str(b): f"Bloc {b % 97}" for b in block_ids}, "events": events, "performances": performances,
        "seatCategoryNames": {str(s): names[str(s)] for s in seat_ids},
        "subTopicNames": {str(t): names[str(t)] for t in topic_ids}, "subjectNames": {},
        "topicNames": {str(t): names[str(t)] for t in topic_ids[:10]}, "topicSubTopics": {
            str(t): rng.sample(topic_ids, 4) for t in topic_ids[:10]},
        "venueNames": {"PLEYEL_PLEYEL": "Salle Pleyel"},
    }


def canada(rng: random.Random, scale: float) -> Dict[str, Any]:
    rings = []
    for _ in range(max(1, int(240 * scale))):
        lon, lat = rng.uniform(-141.0, -52.0), rng.uniform(42.0, 83.0)
        ring = []
        for _ in range(rng.randint(20, 450)):
            lon += rng.uniform(-0.05, 0.05)
            lat += rng.uniform(-0.05, 0.05)
            ring.append([lon, lat])  # full double precision, as surveyed coordinates are written
        ring.append(ring[0])
        rings.append(ring)
    return {"type": "FeatureCollection", "features": [{
        "type": "Feature", "properties": {"name": "Canada"},
        "geometry": {"type": "Polygon", "coordinates": rings}}]}


def github_events(rng: random.Random, scale: float) -> Dict[str, Any]:
    events = []
    for i in range(max(1, int(30 * scale))):
        login = f"{rng.choice(WORDS)}{rng.randint(1, 9999)}"
        repo = f"{login}/{rng.choice(WORDS)}-{rng.choice(WORDS)}"
        actor_id = rng.randint(1000, 9_999_999)
        sha = "".join(rng.choice("0123456789abcdef") for _ in range(40))
        kind = rng.choice(("PushEvent", "CreateEvent", "WatchEvent", "IssuesEvent"))
        payload: Dict[str, Any]
        if kind == "PushEvent":
            payload = {"push_id": rng.randint(10**8, 10**9), "size": 1, "distinct_size": 1, "ref": "refs/heads/master",
                       "head": sha, "before": sha[::-1], "commits": [{
                           "sha": sha, "author": {"email": f"{login}@example.com", "name": _text(rng, 2)},
                           "message": _text(rng, rng.randint(3, 40)), "distinct": True,
                           "url": f"https://api.github.com/repos/{repo}/commits/{sha}"}
                          for _ in range(rng.randint(1, 6))]}
        elif kind == "CreateEvent":
            payload = {"ref": None if rng.random() < 0.5 else "master", "ref_type": "repository",
                       "master_branch": "master", "description": _text(rng, 6)}
        else:
            payload = {"action": "started"}
        events.append({
            "type": kind, "created_at": f"2013-01-0{1 + i % 9}T{rng.randint(0, 23):02d}:00:00Z",
            "actor": {"gravatar_id": "".join(rng.choice("0123456789abcdef") for _ in range(32)), "id": actor_id,
                      "url": f"https://api.github.com/users/{login}", "avatar_url":
                      f"https://secure.gravatar.com/avatar/{actor_id}?d=https%3A%2F%2Fa248.e.akamai.net%2Fassets",
                      "login": login},
            "repo": {"id": rng.randint(10**6, 10**7), "url": f"https://api.github.com/repos/{repo}", "name": repo},
            "payload": payload, "public": True, "id": str(1_652_857_722 + i),
            "org": None if rng.random() < 0.7 else {"gravatar_id": "", "id": rng.randint(10**5, 10**6),
                                                    "url": f"https://api.github.com/orgs/{login}", "login": login},
        })
    return {"data": events}  # the corpus file is an array, wrapped as {"data": ...} like it


# The corpus file name without .json, and the generator of its stand-in.
SHAPES: Dict[str, Callable[[random.Random, float], Dict[str, Any]]] = {
    "canada": canada, "citm_catalog": citm_catalog, "github_events": github_events, "twitter": twitter,
}


def generate(name: str, scale: float = 1.0) -> Dict[str, Any]:
    """The stand-in for the corpus file name.json; the same on every run for a given scale."""
    return SHAPES[name](random.Random(f"vardelquin-{name}"), scale)
