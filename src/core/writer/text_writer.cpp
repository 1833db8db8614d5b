#include "writer/text_writer.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "support/little_endian.h"
#include "support/spare.h"

namespace vardelquin {
namespace {

// Makes the bytes past the text readable, and defined, for key_word.
void pad_for_prefixes(OutputBuffer& buffer) {
  constexpr std::size_t pad = 16;
  std::memset(buffer.reserve(pad), 0, pad);
}

}  // namespace

TextWriter::TextWriter(const FormatConfig& config, OutputBuffer& out, Storage& storage)
    : sink_(out),
      escapes_(config),
      null_str_(config.null_str()),
      true_str_(config.true_str()),
      false_str_(config.false_str()),
      d_(config),
      escape_numbers_(config.numbers_need_escaping()),
      terminator_(d_.field_sep),
      levels_(storage.levels),
      members_(storage.members),
      order_(storage.order),
      keys_(storage.keys),
      moved_(storage.moved),
      spelling_(storage.spelling),
      noted_(storage.noted),
      sorted_members_(storage.sorted_members),
      nested_(storage.nested),
      unclaimed_(storage.unclaimed),
      known_orders_(storage.known_orders) {}

void TextWriter::Storage::give_back() noexcept {
  spare::empty(levels);
  spare::empty(members);
  spare::empty(order);
  spare::empty(keys);
  spare::empty(moved);
  spare::empty(spelling);
  spare::empty(noted);
  spare::empty(sorted_members);
  spare::empty(nested);
  spare::empty(unclaimed);
}

void TextWriter::member_in_full(std::string_view key) {
  const std::size_t start = sink_.size();
  escapes_.put(sink_, key);
  MemberSpan span{start, start, key.size(), false};
  if (sink_.size() - start != key.size()) [[unlikely]] {
    // The written key has escapes in it, which would sort differently.
    span.key_copied = true;
    span.key_at = keys_.size();
    keys_.put(key);
  }
  char padded[16] = {};
  if (!key.empty()) std::memcpy(padded, key.data(), std::min<std::size_t>(key.size(), sizeof padded));
  note_member(span, prefix_of(padded, key.size()), key);
  sink_.put(d_.kv_sep);
}

void TextWriter::string_in_full(std::string_view text) {
  escapes_.put(sink_, text);
  end_value();
}

std::string_view TextWriter::key_of(const MemberSpan& member) noexcept {
  const char* text = member.key_copied ? keys_.data() : sink_.data();
  return {text + member.key_at, member.key_size};
}

void TextWriter::close_in_full() {
  Level& level = levels_.back();
  if (level.is_object) {
    if (!level.in_order) put_in_key_order(level);
    members_.resize(level.first_member);
    keys_.truncate(level.first_key_byte);
  }
  // Only text moved in place can have left objects noted inside.
  if (level.moved != 0 && levels_.size() > 1) {
    Level& parent = levels_[levels_.size() - 2];
    parent.holds_noted = parent.holds_noted || level.holds_noted;
    parent.moved += level.moved;
  }
  const std::size_t open_at = level.open_at;
  end_container(open_at, level.is_object);
  if (levels_.empty() && !unclaimed_.empty()) gather(open_at);
}

// Whether the members' keys are, one by one, those of the known sequence;
// order_ holds their sort keys, as met.
bool TextWriter::is_known(const KnownOrder& known, std::span<const MemberSpan> members,
                          std::uint64_t hash) noexcept {
  if (known.hash != hash || known.keys.size() != members.size()) return false;
  const char* tail = known.tails.data();
  for (std::size_t i = 0; i < members.size(); ++i) {
    const SortKey& met = order_[i];
    const SortKey& was = known.keys[i];
    const std::size_t size = members[i].key_size;
    if (met.high != was.high || met.low != was.low || size != was.index) return false;
    if (size > 16) {
      if (std::memcmp(key_of(members[i]).data() + 16, tail, size - 16) != 0) return false;
      tail += size - 16;
    }
  }
  return true;
}

// Sorts order_ (the members' sort keys as met) into key order, keeping of
// keys with equal text only the last met; and, given a place to remember
// it, keeps the sequence and its order there.
void TextWriter::sort_members(std::span<const MemberSpan> members, KnownOrder* remember) {
  if (remember != nullptr) {
    remember->keys.clear();
    remember->tails.clear();
    for (std::size_t i = 0; i < members.size(); ++i) {
      const std::string_view key = key_of(members[i]);
      remember->keys.push_back(SortKey{order_[i].high, order_[i].low, key.size()});
      if (key.size() > 16) remember->tails.append(key.substr(16));
    }
  }
  // The index breaks ties, so that of equal keys the last met sorts last.
  const auto same_or_before = [&](const SortKey& a, const SortKey& b) {
    if (a.high != b.high) return a.high < b.high ? -1 : 1;
    if (a.low != b.low) return a.low < b.low ? -1 : 1;
    const int order = key_of(members[a.index]).compare(key_of(members[b.index]));
    return order < 0 ? -1 : order > 0 ? 1 : 0;
  };
  std::sort(order_.begin(), order_.end(), [&](const SortKey& a, const SortKey& b) {
    const int order = same_or_before(a, b);
    return order != 0 ? order < 0 : a.index < b.index;
  });
  std::size_t kept = 0;
  for (std::size_t k = 0; k < order_.size(); ++k) {
    if (k + 1 < order_.size() && same_or_before(order_[k], order_[k + 1]) == 0) continue;
    order_[kept++] = order_[k];
  }
  order_.resize(kept);
  if (remember != nullptr) {
    remember->order.clear();
    for (const SortKey& sorted : order_) remember->order.push_back(sorted.index);
  }
}

// Puts the object's members in key order (its keys were not met in
// order), leaving out all but the last met of keys with equal text. The
// sort keys and the copy live in storage that the writer reuses, so no
// object allocates its own.
void TextWriter::put_in_key_order(Level& level) {
  const std::span<const MemberSpan> members(members_.data() + level.first_member,
                                            members_.size() - level.first_member);
  pad_for_prefixes(sink_);
  pad_for_prefixes(keys_);
  order_.clear();
  std::uint64_t hash = members.size();
  for (std::size_t i = 0; i < members.size(); ++i) {
    const std::string_view key = key_of(members[i]);
    const std::uint64_t high = key_word(key.data(), key.size());
    const std::uint64_t low = key.size() > 8 ? key_word(key.data() + 8, key.size() - 8) : 0;
    order_.push_back(SortKey{high, low, i});
    constexpr std::uint64_t odd = 0x9E3779B97F4A7C15;
    hash = (hash ^ high) * odd;
    hash = (hash ^ low ^ key.size()) * odd;
  }
  if (!known_orders_) known_orders_ = std::make_unique<KnownOrders>();
  KnownOrder& known = known_orders_->known[(hash >> 32) % KnownOrders::slots];
  if (is_known(known, members, hash)) {
    order_.clear();
    for (const std::size_t i : known.order) order_.push_back(SortKey{0, 0, i});
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
  const std::size_t size = sink_.size() - level.open_at;
  if (level.holds_noted || level.moved > 4 * size) {
    note_key_order(level, members);
    level.holds_noted = true;
  } else {
    move_into_key_order(level, members);
    level.moved += size;
  }
}

// Moves the members, each followed by field_sep as before, into the key
// order in order_, which leaves out all but the last met of keys with
// equal text. No object inside it waits for gather(), whose notes hold
// places in the text.
void TextWriter::move_into_key_order(const Level& level, std::span<const MemberSpan> members) {
  // The members move through a copy of the text, all but the longest,
  // which moves once, within the text, straight to its sorted place: an
  // object with one large member beside a few short ones (a long list of
  // numbers and its name) then costs little more than that one move.
  const std::size_t body_at = level.open_at + 1;
  const std::size_t body_end = sink_.size() - 1;  // without the last separator
  const auto start_of = [&](std::size_t i) { return members[i].start; };
  const auto end_of = [&](std::size_t i) {
    return i + 1 < members.size() ? members[i + 1].start - 1 : body_end;
  };
  // A small object is simply copied whole: finding its longest member
  // would cost more than the copy saves.
  constexpr std::size_t small_body = 4096;
  std::size_t longest = order_.size();  // in order_, if any
  std::size_t longest_size = 0;
  std::size_t longest_at = body_end;  // where it goes
  std::size_t big = members.size();   // its index in members
  std::size_t big_start = body_end;   // and its place in the text
  std::size_t big_end = body_end;
  if (body_end - body_at > small_body) {
    for (std::size_t k = 0, place = body_at; k < order_.size(); ++k) {
      const std::size_t size = end_of(order_[k].index) - start_of(order_[k].index);
      if (size > longest_size) {
        longest = k;
        longest_size = size;
        longest_at = place;
      }
      place += size + 1;
    }
    big = order_[longest].index;
    big_start = start_of(big);
    big_end = end_of(big);
  }
  moved_.clear();
  moved_.put(sink_.view().substr(body_at, big_start - body_at));
  moved_.put(sink_.view().substr(big_end, body_end - big_end));
  char* const text = sink_.data();
  if (longest_size != 0) std::memmove(text + longest_at, text + big_start, longest_size);
  char* out = text + body_at;
  for (std::size_t k = 0; k < order_.size(); ++k) {
    const std::size_t i = order_[k].index;
    const std::size_t size = end_of(i) - start_of(i);
    if (k != longest) {
      // Its offset in the copy, which lacks the longest member.
      const std::size_t from =
          i < big ? start_of(i) - body_at : (big_start - body_at) + (start_of(i) - big_end);
      std::memcpy(out, moved_.data() + from, size);
    }
    out += size;
    *out++ = d_.field_sep;
  }
  sink_.commit(out);
}

// Notes the key order in order_ for gather(), with the noted objects
// inside this one, which are the last unclaimed ones opened after it.
void TextWriter::note_key_order(const Level& level, std::span<const MemberSpan> members) {
  const std::size_t body_at = level.open_at + 1;
  const std::size_t body_end = sink_.size() - 1;  // the last separator, soon the bracket
  Noted noted{body_at, body_end, sorted_members_.size(), order_.size(), nested_.size(), 0};
  for (const SortKey& sorted : order_) {
    const std::size_t i = sorted.index;
    sorted_members_.push_back(
        TextRange{members[i].start, i + 1 < members.size() ? members[i + 1].start - 1 : body_end});
  }
  std::size_t inside = unclaimed_.size();
  while (inside > 0 && noted_[unclaimed_[inside - 1]].body_at > body_at) --inside;
  nested_.insert(nested_.end(), unclaimed_.begin() + static_cast<std::ptrdiff_t>(inside), unclaimed_.end());
  noted.nested_count = unclaimed_.size() - inside;
  unclaimed_.resize(inside);
  unclaimed_.push_back(noted_.size());
  noted_.push_back(noted);
}

// Puts the noted objects of the top-level value that starts at `value_at`
// in key order: each outermost one is gathered into moved_ and copied
// back, and the text between them closes up behind (an object shrinks
// when it drops keys of equal text).
void TextWriter::gather(std::size_t value_at) {
  char* const text = sink_.data();
  std::size_t read = value_at;
  std::size_t write = value_at;
  for (const std::size_t outermost : unclaimed_) {
    const Noted& noted = noted_[outermost];
    const std::size_t between = noted.body_at - read;
    if (write != read) std::memmove(text + write, text + read, between);
    write += between;
    moved_.clear();
    gather_noted(outermost);
    std::memcpy(text + write, moved_.data(), moved_.size());
    write += moved_.size();
    read = noted.body_end;
  }
  const std::size_t rest = sink_.size() - read;
  if (write != read) std::memmove(text + write, text + read, rest);
  sink_.truncate(write + rest);
  noted_.clear();
  sorted_members_.clear();
  nested_.clear();
  unclaimed_.clear();
}

// Appends to moved_ the body of a noted object in key order, and so on
// for the noted objects inside it, on an explicit stack: each byte is
// copied once.
void TextWriter::gather_noted(std::size_t outermost) {
  struct Step {
    std::size_t noted;
    std::size_t member;  // in key order
    std::size_t at;      // of what is left of that member's text
    std::size_t end;
    std::size_t next_nested;
  };
  const char* const text = sink_.data();
  // The first noted object (in nested_) at or after `at` in the text.
  const auto nested_from = [&](const Noted& noted, std::size_t at) {
    const auto first = nested_.begin() + static_cast<std::ptrdiff_t>(noted.first_nested);
    const auto found = std::partition_point(first, first + static_cast<std::ptrdiff_t>(noted.nested_count),
                                            [&](std::size_t n) { return noted_[n].body_at < at; });
    return static_cast<std::size_t>(found - nested_.begin());
  };
  const auto start = [&](std::size_t n) {
    const Noted& noted = noted_[n];
    const TextRange first = sorted_members_[noted.first_sorted];
    return Step{n, 0, first.begin, first.end, nested_from(noted, first.begin)};
  };
  std::vector<Step> steps{start(outermost)};
  while (!steps.empty()) {
    Step& step = steps.back();
    const Noted& noted = noted_[step.noted];
    if (step.next_nested < noted.first_nested + noted.nested_count) {
      const std::size_t inner = nested_[step.next_nested];
      if (noted_[inner].body_at < step.end) {
        moved_.put(std::string_view(text + step.at, noted_[inner].body_at - step.at));
        step.at = noted_[inner].body_end;
        ++step.next_nested;
        steps.push_back(start(inner));
        continue;
      }
    }
    moved_.put(std::string_view(text + step.at, step.end - step.at));
    if (++step.member == noted.sorted_count) {
      steps.pop_back();
      continue;
    }
    moved_.put(d_.field_sep);
    const TextRange next = sorted_members_[noted.first_sorted + step.member];
    step.at = next.begin;
    step.end = next.end;
    step.next_nested = nested_from(noted, next.begin);
  }
}

void TextWriter::escaped_number(std::int64_t value) {
  spelling_.clear();
  put_integer(spelling_, value);
  escapes_.put(sink_, spelling_.view());
}

void TextWriter::escaped_number(double value) {
  spelling_.clear();
  put_float(spelling_, value);
  escapes_.put(sink_, spelling_.view());
}

}  // namespace vardelquin
