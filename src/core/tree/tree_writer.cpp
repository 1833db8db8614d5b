#include "tree/tree_writer.h"

#include <span>
#include <utility>
#include <vector>

#include "support/spare.h"
#include "writer/escape.h"
#include "writer/numbers.h"
#include "writer/text_writer.h"

namespace vardelquin {
namespace {

// Walks a tree into the text writer, which owns the format; the tree's
// objects are in key order already, so the writer moves nothing.
// Containers are walked on an explicit stack of open containers rather
// than by recursion, so that no depth of tree can exhaust the native stack.
class TreeWalk {
 public:
  explicit TreeWalk(TextWriter& writer) : writer_(writer) {}

  void value(const Value& value) {
    if (!scalar(value)) nested(value);
  }

 private:
  // Writes a scalar; false for a container.
  bool scalar(const Value& value) {
    switch (value.tag()) {
      case ValueTag::Null: writer_.null(); return true;
      case ValueTag::Bool: writer_.boolean(value.as_bool()); return true;
      case ValueTag::Int: writer_.integer(value.as_int()); return true;
      case ValueTag::Float: writer_.floating(value.as_float()); return true;
      case ValueTag::Str: writer_.string(value.as_str()); return true;
      case ValueTag::List:
      case ValueTag::Object: return false;
    }
    return true;
  }

  void nested(const Value& outermost) {
    open(outermost);
    while (!open_.empty()) {
      OpenContainer& current = open_.back();
      const Value* child;
      if (current.container.tag() == ValueTag::List) {
        const std::span<const Value> items = current.container.as_list();
        if (current.next == items.size()) {
          close();
          continue;
        }
        child = &items[current.next++];
      } else {
        const std::span<const Member> members = current.container.as_object();
        if (current.next == members.size()) {
          close();
          continue;
        }
        const Member& member = members[current.next++];
        writer_.member(member.key);
        child = &member.value;
      }
      if (!scalar(*child)) open(*child);
    }
  }

  void open(const Value& container) {
    if (container.tag() == ValueTag::List) {
      writer_.open_list();
    } else {
      writer_.open_object();
    }
    open_.push_back(OpenContainer{container, 0});
  }

  void close() {
    writer_.close();
    open_.pop_back();
  }

  struct OpenContainer {
    Value container;
    std::size_t next;  // the child to write next
  };

  TextWriter& writer_;
  std::vector<OpenContainer> open_;
};

}  // namespace

OwnedText write_document(const Document& document, const FormatConfig& config) {
  OutputBuffer out;
  write_document(document, config, out);
  return std::move(out).finish();
}

void write_document(const Document& document, const FormatConfig& config, OutputBuffer& out) {
  const spare::Lease<TextWriter::Storage> storage;
  TextWriter writer(config, out, *storage);
  TreeWalk walk(writer);
  for (const auto& [key, value] : document) {
    writer.entry(key);
    walk.value(value);
  }
}

OwnedText write_value(const Value& value, const FormatConfig& config) {
  OutputBuffer out;
  {
    const spare::Lease<TextWriter::Storage> storage;
    TextWriter writer(config, out, *storage);
    TreeWalk(writer).value(value);
  }
  // Written as a top-level entry's value, which field_sep ends.
  out.truncate(out.size() - 1);
  return std::move(out).finish();
}

OwnedText escape_text(std::string_view text, const FormatConfig& config) {
  OutputBuffer out;
  EscapeSet(config).put(out, text);
  return std::move(out).finish();
}

std::string format_integer(std::int64_t value) {
  OutputBuffer out;
  put_integer(out, value);
  return std::string(out.view());
}

std::string format_float(double value) {
  OutputBuffer out;
  put_float(out, value);
  return std::string(out.view());
}

}  // namespace vardelquin
