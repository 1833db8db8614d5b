#include "writer/text_writer.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "support/little_endian.h"
#include "support/spare.h"

namespace vardelquin {
namespace {

// Eight bytes at `p` as a big-endian number, the bytes past `size` masked
// to zero; eight bytes must be readable at `p`.
std::uint64_t key_word(const char* p, std::size_t size) noexcept {
  const std::uint64_t word = load_be64(p);
  return size >= 8 ? word : word & ~(~std::uint64_t{0} >> (8 * size));
}

// Makes the bytes past the text readable, and defined, for key_word.
void pad_for_prefixes(OutputBuffer& buffer) {
  constexpr std::size_t pad = 16;
  std::memset(buffer.reserve(pad), 0, pad);
}

}  // namespace

TextWriter::TextWriter(const FormatConfig& config, OutputBuffer& out)
    : sink_(out),
      escapes_(config),
      null_str_(config.null_str()),
      true_str_(config.true_str()),
      false_str_(config.false_str()),
      d_(config),
      escape_numbers_(config.numbers_need_escaping()),
      terminator_(d_.field_sep) {
  if (Spares* spares = spare::ThreadSpares<Spares>::find()) {
    spare::take(spares->levels, levels_);
    spare::take(spares->members, members_);
    spare::take(spares->order, order_);
    spare::take(spares->keys, keys_);
    spare::take(spares->moved, moved_);
  }
}

TextWriter::~TextWriter() {
  levels_.clear();
  members_.clear();
  Spares& spares = spare::ThreadSpares<Spares>::get();
  spare::give(spares.levels, levels_);
  spare::give(spares.members, members_);
  spare::give(spares.order, order_);
  spare::give(spares.keys, keys_);
  spare::give(spares.moved, moved_);
}

void TextWriter::member(std::string_view key) {
  const std::size_t start = sink_.size();
  escapes_.put(sink_, key);
  MemberSpan span{start, start, key.size(), false};
  if (sink_.size() - start != key.size()) [[unlikely]] {
    // The written key has escapes in it, which would sort differently.
    span.key_copied = true;
    span.key_at = keys_.size();
    keys_.put(key);
  }
  Level& level = levels_.back();
  if (level.in_order && members_.size() > level.first_member) {
    // Byte order: string_view compares its chars as unsigned.
    level.in_order = key_of(members_.back()) < key;
  }
  members_.push_back(span);
  sink_.put(d_.kv_sep);
}

std::string_view TextWriter::key_of(const MemberSpan& member) noexcept {
  const char* text = member.key_copied ? keys_.data() : sink_.data();
  return {text + member.key_at, member.key_size};
}

void TextWriter::open(bool is_object, char bracket, char separator) {
  levels_.push_back(Level{sink_.size(), members_.size(), keys_.size(), is_object, true});
  sink_.put(bracket);
  terminator_ = separator;
}

void TextWriter::close() {
  const Level level = levels_.back();
  levels_.pop_back();
  if (level.is_object) {
    if (!level.in_order) put_in_key_order(level);
    members_.resize(level.first_member);
    keys_.truncate(level.first_key_byte);
  }
  const char bracket = level.is_object ? d_.obj_close : d_.list_close;
  if (sink_.size() > level.open_at + 1) {
    // The last value's separator becomes the bracket.
    sink_.data()[sink_.size() - 1] = bracket;
  } else {
    sink_.put(bracket);
  }
  terminator_ = levels_.empty() || levels_.back().is_object ? d_.field_sep : d_.list_sep;
  end_value();
}

// Sorts the object's members by key (its keys were not met in order), then
// copies its text aside and writes the members back in that order, each
// followed by field_sep as before, leaving out all but the last met of
// keys with equal text. The sort keys and the copy live in storage that
// the writer reuses, so no object allocates its own.
void TextWriter::put_in_key_order(const Level& level) {
  const std::span<const MemberSpan> members(members_.data() + level.first_member,
                                            members_.size() - level.first_member);
  pad_for_prefixes(sink_);
  pad_for_prefixes(keys_);
  order_.clear();
  for (std::size_t i = 0; i < members.size(); ++i) {
    const std::string_view key = key_of(members[i]);
    const std::uint64_t high = key_word(key.data(), key.size());
    const std::uint64_t low = key.size() > 8 ? key_word(key.data() + 8, key.size() - 8) : 0;
    order_.push_back(SortKey{high, low, i});
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

  // Of keys with equal text, only the last met (sorted last) stays.
  std::size_t kept = 0;
  for (std::size_t k = 0; k < order_.size(); ++k) {
    if (k + 1 < order_.size() && same_or_before(order_[k], order_[k + 1]) == 0) continue;
    order_[kept++] = order_[k];
  }
  order_.resize(kept);

  // The text between the brackets, without the last member's separator.
  const std::size_t body_at = level.open_at + 1;
  const std::size_t body_end = sink_.size() - 1;
  moved_.clear();
  moved_.put(sink_.view().substr(body_at, body_end - body_at));
  char* out = sink_.data() + body_at;
  for (const SortKey& sorted : order_) {
    const std::size_t i = sorted.index;
    const std::size_t start = members[i].start;
    const std::size_t end = i + 1 < members.size() ? members[i + 1].start - 1 : body_end;
    std::memcpy(out, moved_.data() + (start - body_at), end - start);
    out += end - start;
    *out++ = d_.field_sep;
  }
  sink_.commit(out);
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
