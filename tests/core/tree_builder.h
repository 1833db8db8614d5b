// Value trees for tests: every string, list and object is copied into one
// arena that lives for the whole test run, so tests can build trees from
// temporaries.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "tree/document.h"

namespace vardelquin::testing {

inline Arena& arena() {
  static Arena shared;
  return shared;
}

inline Value str(std::string_view text) { return make_string(arena(), text); }

inline Value list(std::initializer_list<Value> items) {
  return make_list(arena(), std::span(items.begin(), items.size()));
}

inline Value list(const std::vector<Value>& items) { return make_list(arena(), items); }

inline std::vector<Member> members(std::initializer_list<std::pair<std::string, Value>> entries) {
  std::vector<Member> out;
  for (const auto& [key, value] : entries) out.push_back(Member{arena().copy(key), value});
  return out;
}

inline Value object(std::initializer_list<std::pair<std::string, Value>> entries) {
  std::vector<Member> m = members(entries);
  return make_object(arena(), m);
}

inline Document document(std::initializer_list<std::pair<std::string, Value>> entries) {
  Document d;
  for (const auto& [key, value] : entries) d.append(arena().copy(key), value);
  return d;
}

}  // namespace vardelquin::testing
