#include "binding/key_cache.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <utility>

#include "binding/text.h"
#include "support/little_endian.h"
#include "support/utf8.h"

namespace vardelquin {
namespace {

// Documents repeat their keys, within one text (records in a list share
// one set) and from one call to the next (a stream of records of one
// shape), and their short values too. Reusing the str made for an earlier
// occurrence saves making it again, and the dict store reuses the hash
// cached in a key.
//
// Each cache (one for keys, one for values) is direct-mapped and
// process-wide: the module lives in the main interpreter only, and every
// use runs under the interpreter lock, so the lock guards it. A slot keeps
// its own copy of the string's bytes, since the text it came from is gone
// after the call. What a cache pins is bounded by its size: at most
// slot_count strs of up to longest_key bytes. The slots are plain data,
// never destroyed, so nothing here drops a reference at exit, when the
// lock may no longer be held; the interpreter's own teardown does not need
// these strs freed.
constexpr std::size_t longest_key = 64;
constexpr std::size_t slot_count = 512;

// A key's length and its first and last eight bytes. For a key of up to
// sixteen bytes these hold every byte (see short_key_bytes), so equal
// words are equal keys, with no comparison of bytes.
struct KeyWords {
  std::uint64_t head;
  std::uint64_t tail;
  std::size_t size;

  friend bool operator==(const KeyWords&, const KeyWords&) noexcept = default;
};

struct Slot {
  PyObject* str;  // strong reference, or NULL while the slot is empty
  KeyWords words;
  char bytes[longest_key];
};

using Slots = std::array<Slot, slot_count>;
constinit Slots key_slots{};
constinit Slots value_slots{};

// The bytes of a key shorter than eight as one little-endian number,
// zero-padded, every byte in a place of its own: fixed-size loads that
// overlap, where a copy of the exact length would be slower. An empty
// key's data may be null: never read.
std::uint64_t short_key_bytes(std::string_view key) noexcept {
  const char* const data = key.data();
  const std::size_t n = key.size();
  if (n >= 4) {
    const std::uint32_t first = load_le32(data);
    const std::uint32_t last = load_le32(data + n - 4);
    return first | (std::uint64_t{last} >> (8 * (8 - n))) << 32;
  }
  if (n == 0) return 0;
  const auto at = [&](std::size_t i) {
    return std::uint64_t{static_cast<unsigned char>(data[i])} << (8 * i);
  };
  return at(0) | at(n / 2) | at(n - 1);
}

KeyWords words_of(std::string_view key) noexcept {
  const std::size_t n = key.size();
  KeyWords words{0, 0, n};
  if (n >= 8) {
    words.head = load_le64(key.data());
    words.tail = load_le64(key.data() + n - 8);
  } else {
    words.head = words.tail = short_key_bytes(key);
  }
  return words;
}

// The words spread the keys of a few documents well enough, and are cheap
// to have for the short keys that documents repeat.
std::size_t slot_of(const KeyWords& w) noexcept {
  const std::uint64_t h = (w.head * 0x9E3779B97F4A7C15u) ^ (w.tail * 0xC2B2AE3D27D4EB4Fu) ^ w.size;
  return static_cast<std::size_t>((h ^ (h >> 32)) % slot_count);
}

// Whether the slot holds `key`, whose words are `words`. Past sixteen
// bytes, the bytes between the two words are compared too.
bool holds(const Slot& slot, const KeyWords& words, std::string_view key) noexcept {
  if (slot.str == nullptr || !(slot.words == words)) return false;
  return key.size() <= 16 || std::memcmp(slot.bytes + 8, key.data() + 8, key.size() - 16) == 0;
}

PyRef cached_str(Slots& slots, std::string_view key, bool& found) noexcept {
  found = false;
  if (key.size() > longest_key) return str_from_utf8(key);
  const KeyWords words = words_of(key);
  Slot& slot = slots[slot_of(words)];
  if (holds(slot, words, key)) {
    found = true;
    return PyRef::borrow(PyHandle(slot.str));
  }
  wchar_t room[longest_key];
  PyRef str = utf8::is_ascii(key) ? str_from_ascii(key) : str_from_code_points(key, room);
  if (!str) return str;
  // The slot is whole again before the str it held is dropped.
  const PyRef old = PyRef::steal(std::exchange(slot.str, str.new_reference()));
  slot.words = words;
  // An empty key's data may be null, which memcpy must not be given.
  if (!key.empty()) std::memcpy(slot.bytes, key.data(), key.size());
  return str;
}

}  // namespace

PyRef cached_key(std::string_view key) noexcept {
  bool found;
  return cached_str(key_slots, key, found);
}

PyRef cached_value(std::string_view value, bool& found) noexcept {
  return cached_str(value_slots, value, found);
}

}  // namespace vardelquin
