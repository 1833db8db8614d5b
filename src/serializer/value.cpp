#include "serializer/value.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace vardelquin {
namespace {

// std::string compares through char_traits<char>, which orders bytes as
// unsigned char: exactly the byte order keys need.
bool key_less(const Object::Entry& a, const Object::Entry& b) { return a.first < b.first; }

}  // namespace

Object Object::from_entries(std::vector<Entry> entries) {
  std::stable_sort(entries.begin(), entries.end(), key_less);
  // Among equal keys the stable sort keeps text order, so the last of a run
  // carries the value to keep.
  std::size_t out = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (out > 0 && entries[out - 1].first == entries[i].first) {
      entries[out - 1].second = std::move(entries[i].second);
    } else {
      if (out != i) entries[out] = std::move(entries[i]);
      ++out;
    }
  }
  entries.resize(out, Entry{});
  Object object;
  object.entries_ = std::move(entries);
  return object;
}

void Object::insert(std::string key, Value value) {
  auto it = std::lower_bound(entries_.begin(), entries_.end(), key,
                             [](const Entry& e, const std::string& k) { return e.first < k; });
  if (it != entries_.end() && it->first == key) {
    it->second = std::move(value);
  } else {
    entries_.emplace(it, std::move(key), std::move(value));
  }
}

bool operator==(const Object& a, const Object& b) { return a.entries_ == b.entries_; }

bool operator==(const Value& a, const Value& b) {
  if (a.tag() != b.tag()) return false;
  switch (a.tag()) {
    case ValueTag::Null: return true;
    case ValueTag::Bool: return a.as_bool() == b.as_bool();
    case ValueTag::Int: return a.as_int() == b.as_int();
    case ValueTag::Float:
      return std::bit_cast<std::uint64_t>(a.as_float()) == std::bit_cast<std::uint64_t>(b.as_float());
    case ValueTag::Str: return a.as_str() == b.as_str();
    case ValueTag::List: return a.as_list() == b.as_list();
    case ValueTag::Object: return a.as_object() == b.as_object();
  }
  return false;
}

}  // namespace vardelquin
