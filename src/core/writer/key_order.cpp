#include "writer/key_order.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "support/spare.h"

namespace vardelquin {
namespace {

// Makes the bytes past the text readable, and defined, for KeyPrefix::of.
void pad_for_prefixes(OutputBuffer& buffer) {
  constexpr std::size_t pad = 16;
  std::memset(buffer.reserve(pad), 0, pad);
}

}  // namespace

void KeyOrder::Storage::give_back() noexcept {
  spare::empty(members);
  spare::empty(order);
  spare::empty(keys);
  spare::empty(moved);
  spare::empty(noted);
  spare::empty(sorted_members);
  spare::empty(nested);
  spare::empty(unclaimed);
}

void KeyOrder::member_rewritten(Members& members, std::size_t start, std::string_view key, bool escaped) {
  MemberSpan span{start, start, key.size(), false};
  if (escaped) [[unlikely]] {
    // The written key has escapes in it, which would sort differently.
    span.key_copied = true;
    span.key_at = s_.keys.size();
    s_.keys.put(key);
  }
  char padded[16] = {};
  if (!key.empty()) std::memcpy(padded, key.data(), std::min<std::size_t>(key.size(), sizeof padded));
  note(members, span, KeyPrefix::of(padded, key.size()), key);
}

std::string_view KeyOrder::key_of(const MemberSpan& member) noexcept {
  const char* text = member.key_copied ? s_.keys.data() : text_.data();
  return {text + member.key_at, member.key_size};
}

void KeyOrder::close(Members& members, std::size_t open_at, Members* outer) {
  if (!members.in_order) put_in_key_order(members, open_at);
  forget(members);
  // Only text moved in place can have left objects noted inside.
  if (members.moved != 0 && outer != nullptr) {
    outer->holds_noted = outer->holds_noted || members.holds_noted;
    outer->moved += members.moved;
  }
}

// Whether the members' keys are, one by one, those of the known sequence;
// s_.order holds their sort keys, as met.
bool KeyOrder::is_known(const KnownOrder& known, std::span<const MemberSpan> members,
                        std::uint64_t hash) noexcept {
  if (known.hash != hash || known.keys.size() != members.size()) return false;
  const char* tail = known.tails.data();
  for (std::size_t i = 0; i < members.size(); ++i) {
    const KeyPrefix& met = s_.order[i].prefix;
    if (met != known.keys[i]) return false;
    const std::size_t size = met.size;
    if (size > 16) {
      if (std::memcmp(key_of(members[i]).data() + 16, tail, size - 16) != 0) return false;
      tail += size - 16;
    }
  }
  return true;
}

// Sorts s_.order (the members' sort keys as met) into key order, keeping of
// keys with equal text only the last met; and, given a place to remember
// it, keeps the sequence and its order there.
void KeyOrder::sort_members(std::span<const MemberSpan> members, KnownOrder* remember) {
  if (remember != nullptr) {
    remember->keys.clear();
    remember->tails.clear();
    for (std::size_t i = 0; i < members.size(); ++i) {
      const std::string_view key = key_of(members[i]);
      remember->keys.push_back(s_.order[i].prefix);
      if (key.size() > 16) remember->tails.append(key.substr(16));
    }
  }
  // The index breaks ties, so that of equal keys the last met sorts last.
  const auto same_or_before = [&](const SortKey& a, const SortKey& b) {
    if (a.prefix.high != b.prefix.high) return a.prefix.high < b.prefix.high ? -1 : 1;
    if (a.prefix.low != b.prefix.low) return a.prefix.low < b.prefix.low ? -1 : 1;
    const int order = key_of(members[a.index]).compare(key_of(members[b.index]));
    return order < 0 ? -1 : order > 0 ? 1 : 0;
  };
  std::sort(s_.order.begin(), s_.order.end(), [&](const SortKey& a, const SortKey& b) {
    const int order = same_or_before(a, b);
    return order != 0 ? order < 0 : a.index < b.index;
  });
  std::size_t kept = 0;
  for (std::size_t k = 0; k < s_.order.size(); ++k) {
    if (k + 1 < s_.order.size() && same_or_before(s_.order[k], s_.order[k + 1]) == 0) continue;
    s_.order[kept++] = s_.order[k];
  }
  s_.order.resize(kept);
  if (remember != nullptr) {
    remember->order.clear();
    for (const SortKey& sorted : s_.order) remember->order.push_back(sorted.index);
  }
}

// Puts the object's members in key order (its keys were not met in
// order), leaving out all but the last met of keys with equal text. The
// sort keys and the copy live in storage that is reused, so no
// object allocates its own.
void KeyOrder::put_in_key_order(Members& object, std::size_t open_at) {
  const std::span<const MemberSpan> members(s_.members.data() + object.first_member,
                                            s_.members.size() - object.first_member);
  pad_for_prefixes(text_);
  pad_for_prefixes(s_.keys);
  s_.order.clear();
  std::uint64_t hash = members.size();
  for (std::size_t i = 0; i < members.size(); ++i) {
    const std::string_view key = key_of(members[i]);
    const KeyPrefix prefix = KeyPrefix::of(key.data(), key.size());
    s_.order.push_back(SortKey{prefix, i});
    constexpr std::uint64_t odd = 0x9E3779B97F4A7C15;
    hash = (hash ^ prefix.high) * odd;
    hash = (hash ^ prefix.low ^ key.size()) * odd;
  }
  if (!s_.known_orders) s_.known_orders = std::make_unique<KnownOrders>();
  KnownOrder& known = s_.known_orders->known[(hash >> 32) % KnownOrders::slots];
  if (is_known(known, members, hash)) {
    // Only the indices are read from here on: the prefixes stay as they
    // are, in places that no longer match them.
    s_.order.resize(known.order.size());
    for (std::size_t k = 0; k < known.order.size(); ++k) s_.order[k].index = known.order[k];
  } else {
    // Sequences of many or long keys are not kept: what is kept stays
    // small, for the thread's life.
    bool keep = members.size() <= KnownOrders::most_members;
    for (std::size_t i = 0, bytes = 0; keep && i < members.size(); ++i) {
      bytes += members[i].key_size;
      keep = bytes <= KnownOrders::most_key_bytes;
    }
    sort_members(members, keep ? &known : nullptr);
    if (keep) known.hash = hash;
  }
  const std::size_t size = text_.size() - open_at;
  if (object.holds_noted || object.moved > 4 * size) {
    note_key_order(open_at, members);
    object.holds_noted = true;
  } else {
    move_into_key_order(open_at, members);
    object.moved += size;
  }
}

// Moves the members, each followed by field_sep as before, into the key
// order in s_.order, which leaves out all but the last met of keys with
// equal text. No object inside it waits for gather(), whose notes hold
// places in the text.
void KeyOrder::move_into_key_order(std::size_t open_at, std::span<const MemberSpan> members) {
  // The members move through a copy of the text, all but the longest,
  // which moves once, within the text, straight to its sorted place: an
  // object with one large member beside a few short ones (a long list of
  // numbers and its name) then costs little more than that one move.
  const std::size_t body_at = open_at + 1;
  const std::size_t body_end = text_.size() - 1;  // without the last separator
  const auto start_of = [&](std::size_t i) { return members[i].start; };
  const auto end_of = [&](std::size_t i) {
    return i + 1 < members.size() ? members[i + 1].start - 1 : body_end;
  };
  // A small object is simply copied whole: finding its longest member
  // would cost more than the copy saves.
  constexpr std::size_t small_body = 4096;
  std::size_t longest = s_.order.size();  // in s_.order, if any
  std::size_t longest_size = 0;
  std::size_t longest_at = body_end;  // where it goes
  std::size_t big = members.size();   // its index in members
  std::size_t big_start = body_end;   // and its place in the text
  std::size_t big_end = body_end;
  if (body_end - body_at > small_body) {
    for (std::size_t k = 0, place = body_at; k < s_.order.size(); ++k) {
      const std::size_t size = end_of(s_.order[k].index) - start_of(s_.order[k].index);
      if (size > longest_size) {
        longest = k;
        longest_size = size;
        longest_at = place;
      }
      place += size + 1;
    }
    big = s_.order[longest].index;
    big_start = start_of(big);
    big_end = end_of(big);
  }
  s_.moved.clear();
  s_.moved.put(text_.view().substr(body_at, big_start - body_at));
  s_.moved.put(text_.view().substr(big_end, body_end - big_end));
  char* const text = text_.data();
  if (longest_size != 0) std::memmove(text + longest_at, text + big_start, longest_size);
  char* out = text + body_at;
  for (std::size_t k = 0; k < s_.order.size(); ++k) {
    const std::size_t i = s_.order[k].index;
    const std::size_t size = end_of(i) - start_of(i);
    if (k != longest) {
      // Its offset in the copy, which lacks the longest member.
      const std::size_t from =
          i < big ? start_of(i) - body_at : (big_start - body_at) + (start_of(i) - big_end);
      std::memcpy(out, s_.moved.data() + from, size);
    }
    out += size;
    *out++ = field_sep_;
  }
  text_.commit(out);
}

// Notes the key order in s_.order for gather(), with the noted objects
// inside this one, which are the last unclaimed ones opened after it.
void KeyOrder::note_key_order(std::size_t open_at, std::span<const MemberSpan> members) {
  const std::size_t body_at = open_at + 1;
  const std::size_t body_end = text_.size() - 1;  // the last separator, soon the bracket
  Noted noted{body_at, body_end, s_.sorted_members.size(), s_.order.size(), s_.nested.size(), 0};
  for (const SortKey& sorted : s_.order) {
    const std::size_t i = sorted.index;
    s_.sorted_members.push_back(
        TextRange{members[i].start, i + 1 < members.size() ? members[i + 1].start - 1 : body_end});
  }
  std::size_t inside = s_.unclaimed.size();
  while (inside > 0 && s_.noted[s_.unclaimed[inside - 1]].body_at > body_at) --inside;
  s_.nested.insert(s_.nested.end(), s_.unclaimed.begin() + static_cast<std::ptrdiff_t>(inside),
                   s_.unclaimed.end());
  noted.nested_count = s_.unclaimed.size() - inside;
  s_.unclaimed.resize(inside);
  s_.unclaimed.push_back(s_.noted.size());
  s_.noted.push_back(noted);
}

// Puts the noted objects of the top-level value that starts at `value_at`
// in key order: each outermost one is gathered into s_.moved and copied
// back, and the text between them closes up behind (an object shrinks
// when it drops keys of equal text).
void KeyOrder::gather(std::size_t value_at) {
  char* const text = text_.data();
  std::size_t read = value_at;
  std::size_t write = value_at;
  for (const std::size_t outermost : s_.unclaimed) {
    const Noted& noted = s_.noted[outermost];
    const std::size_t between = noted.body_at - read;
    if (write != read) std::memmove(text + write, text + read, between);
    write += between;
    s_.moved.clear();
    gather_noted(outermost);
    std::memcpy(text + write, s_.moved.data(), s_.moved.size());
    write += s_.moved.size();
    read = noted.body_end;
  }
  const std::size_t rest = text_.size() - read;
  if (write != read) std::memmove(text + write, text + read, rest);
  text_.truncate(write + rest);
  s_.noted.clear();
  s_.sorted_members.clear();
  s_.nested.clear();
  s_.unclaimed.clear();
}

// Appends to s_.moved the body of a noted object in key order, and so on
// for the noted objects inside it, on an explicit stack: each byte is
// copied once.
void KeyOrder::gather_noted(std::size_t outermost) {
  struct Step {
    std::size_t noted;
    std::size_t member;  // in key order
    std::size_t at;      // of what is left of that member's text
    std::size_t end;
    std::size_t next_nested;
  };
  const char* const text = text_.data();
  // The first noted object (in s_.nested) at or after `at` in the text.
  const auto nested_from = [&](const Noted& noted, std::size_t at) {
    const auto first = s_.nested.begin() + static_cast<std::ptrdiff_t>(noted.first_nested);
    const auto found = std::partition_point(first, first + static_cast<std::ptrdiff_t>(noted.nested_count),
                                            [&](std::size_t n) { return s_.noted[n].body_at < at; });
    return static_cast<std::size_t>(found - s_.nested.begin());
  };
  const auto start = [&](std::size_t n) {
    const Noted& noted = s_.noted[n];
    const TextRange first = s_.sorted_members[noted.first_sorted];
    return Step{n, 0, first.begin, first.end, nested_from(noted, first.begin)};
  };
  std::vector<Step> steps{start(outermost)};
  while (!steps.empty()) {
    Step& step = steps.back();
    const Noted& noted = s_.noted[step.noted];
    if (step.next_nested < noted.first_nested + noted.nested_count) {
      const std::size_t inner = s_.nested[step.next_nested];
      if (s_.noted[inner].body_at < step.end) {
        s_.moved.put(std::string_view(text + step.at, s_.noted[inner].body_at - step.at));
        step.at = s_.noted[inner].body_end;
        ++step.next_nested;
        steps.push_back(start(inner));
        continue;
      }
    }
    s_.moved.put(std::string_view(text + step.at, step.end - step.at));
    if (++step.member == noted.sorted_count) {
      steps.pop_back();
      continue;
    }
    s_.moved.put(field_sep_);
    const TextRange next = s_.sorted_members[noted.first_sorted + step.member];
    step.at = next.begin;
    step.end = next.end;
    step.next_nested = nested_from(noted, next.begin);
  }
}

}  // namespace vardelquin
