#include "writer/text_writer.h"

#include "support/spare.h"

namespace vardelquin {

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
      spelling_(storage.spelling),
      key_order_(out, d_.field_sep, storage.key_order) {}

void TextWriter::Storage::give_back() noexcept {
  spare::empty(levels);
  spare::empty(spelling);
  key_order.give_back();
}

void TextWriter::member_in_full(std::string_view key) {
  const std::size_t start = sink_.size();
  escapes_.put(sink_, key);
  key_order_.member_rewritten(levels_.back().members, start, key, sink_.size() - start != key.size());
  sink_.put(d_.kv_sep);
}

void TextWriter::string_in_full(std::string_view text) {
  escapes_.put(sink_, text);
  end_value();
}

void TextWriter::close_in_full() {
  Level& level = levels_.back();
  KeyOrder::Members* const outer = levels_.size() > 1 ? &levels_[levels_.size() - 2].members : nullptr;
  key_order_.close(level.members, level.open_at, outer);
  const std::size_t open_at = level.open_at;
  end_container(open_at, level.is_object);
  if (levels_.empty()) key_order_.top_level_closed(open_at);
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
