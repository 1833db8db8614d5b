#include "tree/tree_reader.h"

#include <cstddef>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "reader/text_reader.h"
#include "support/spare.h"

namespace vardelquin {
namespace {

// Gathers what the reader reports into a value tree. Children gather on
// items_ and members_, shared by all levels, and move to the document's
// arena once their container is complete.
class TreeSink {
 public:
  // The lists and objects around the value being read, innermost last.
  struct Open {
    bool is_list;
    std::size_t base;  // where its children start on items_ or members_
  };
  // The sink's stacks and the reader's scratch, kept for the next read on
  // the thread (see support/spare.h).
  struct Storage {
    std::vector<Open> open;
    std::vector<Value> items;
    std::vector<Member> members;
    std::string scratch;

    void give_back() noexcept {
      spare::empty(open);
      spare::empty(items);
      spare::empty(members);
      spare::empty(scratch);
    }
  };

  explicit TreeSink(Storage& storage) noexcept
      : open_(storage.open), items_(storage.items), members_(storage.members) {}
  TreeSink(const TreeSink&) = delete;
  TreeSink& operator=(const TreeSink&) = delete;

  bool entry_key(Token key) {
    entry_key_ = keep(key);
    return true;
  }
  bool member_key(Token key) {
    members_.push_back(Member{keep(key), Value()});
    return true;
  }
  bool scalar(Value value, bool lasting) {
    if (value.tag() == ValueTag::Str) value = Value::string(keep(Token{value.as_str(), lasting}));
    return complete(value);
  }
  bool open_list() {
    open_.push_back(Open{true, items_.size()});
    return true;
  }
  bool open_object() {
    open_.push_back(Open{false, members_.size()});
    return true;
  }
  bool close_list() {
    const std::size_t base = open_.back().base;
    open_.pop_back();
    const Value list = make_list(document_.arena(), std::span(items_).subspan(base));
    items_.resize(base);
    return complete(list);
  }
  bool close_object() {
    const std::size_t base = open_.back().base;
    open_.pop_back();
    const Value object = make_object(document_.arena(), std::span(members_).subspan(base));
    members_.resize(base);
    return complete(object);
  }

  Document take() { return std::move(document_); }

 private:
  // A complete value goes to the innermost open container, else to the
  // entry whose key came last.
  bool complete(Value value) {
    if (open_.empty()) {
      document_.append(entry_key_, value);
    } else if (open_.back().is_list) {
      items_.push_back(value);
    } else {
      members_.back().value = value;
    }
    return true;
  }

  // Text of the input outlives the document; scratch text is copied out.
  std::string_view keep(Token token) {
    if (token.lasting || token.text.empty()) return token.text;
    return document_.arena().copy(token.text);
  }

  Document document_;
  std::string_view entry_key_;
  std::vector<Open>& open_;
  std::vector<Value>& items_;
  std::vector<Member>& members_;
};

}  // namespace

Expected<Document, Failure> parse_document(std::string_view text, const FormatConfig& config) {
  const spare::Lease<TreeSink::Storage> storage;
  TreeSink sink(*storage);
  TextReader reader(text, config, sink, storage->scratch);
  if (reader.read() != ReadEnd::complete) return Unexpected{reader.failure()};
  return sink.take();
}

}  // namespace vardelquin
