#include "binding/strs.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <utility>

#include "support/key_words.h"
#include "support/str_route.h"
#include "support/transcode.h"

namespace vardelquin {
namespace {

// --- The routes ------------------------------------------------------------

// Decoded one character at a time into `room` (text.size() units at
// least), then handed over as Latin-1 bytes where every code point fits
// one, else as wide characters: for short texts, whose code points the
// caller keeps on the stack.
PyRef str_via_code_points_in(std::string_view text, wchar_t* room) {
#if WCHAR_MAX > 0xFFFF
  const utf8::Widened wide = utf8::to_code_points(text, room);
  const auto count = static_cast<Py_ssize_t>(wide.count);
  if (wide.bits >= 0x100) return PyRef::steal(PyUnicode_FromWideChar(room, count));
  // Narrowed in place: byte i lies in unit i / 4, which is read by then.
  char* const bytes = reinterpret_cast<char*>(room);
  for (std::size_t i = 0; i < wide.count; ++i) bytes[i] = static_cast<char>(room[i]);
  return PyRef::steal(PyUnicode_DecodeLatin1(bytes, count, nullptr));
#else
  (void)room;
  return str_from_utf8(text);
#endif
}

// Block-transcoded to code points in room of its own, handed over as wide
// characters: for long texts with characters beyond the Basic
// Multilingual Plane. The text has `characters` characters.
PyRef long_str_via_code_points(std::string_view text, std::size_t characters) {
#if WCHAR_MAX > 0xFFFF
  const std::unique_ptr<wchar_t[]> room(new (std::nothrow) wchar_t[characters + 16]);
  if (!room) {
    PyErr_NoMemory();
    return PyRef();
  }
  const std::size_t count = utf8::to_utf32(text.data(), text.size(), room.get());
  return PyRef::steal(PyUnicode_FromWideChar(room.get(), static_cast<Py_ssize_t>(count)));
#else
  (void)characters;
  return str_from_utf8(text);
#endif
}

PyRef str_from_utf16(const char16_t* units, std::size_t count) {
  // An explicit byte order keeps a leading U+FEFF as a character.
  int byte_order = std::endian::native == std::endian::little ? -1 : 1;
  return PyRef::steal(PyUnicode_DecodeUTF16(reinterpret_cast<const char*>(units),
                                            static_cast<Py_ssize_t>(2 * count), nullptr, &byte_order));
}

// Block-transcoded to UTF-16 in room of its own: null, with MemoryError
// set, where there is no memory for it, as where the interpreter's own
// allocations fail (loads asks for it in the middle of building its
// result).
PyRef long_str_via_utf16(std::string_view text) {
  const std::unique_ptr<char16_t[]> room(new (std::nothrow) char16_t[utf8::max_utf16_units(text.size())]);
  if (!room) {
    PyErr_NoMemory();
    return PyRef();
  }
  return str_from_utf16(room.get(), utf8::to_utf16(text.data(), text.size(), room.get()));
}

// The text's UTF-16 written over it, as `layout` places it; the buffer is
// left empty.
PyRef long_str_via_utf16_in_place(OutputBuffer& text, const utf8::InPlaceLayout& layout) {
  const std::size_t size = text.size();
  const std::size_t needed = std::max(layout.text_offset + size, 2 * layout.units + 32);
  if (needed > size) text.reserve(needed - size);
  char* const bytes = text.data();
  std::memmove(bytes + layout.text_offset, bytes, size);
  auto* const units = reinterpret_cast<char16_t*>(bytes);
  PyRef str = str_from_utf16(units, utf8::to_utf16(bytes + layout.text_offset, size, units));
  text.clear();
  return str;
}

// A text of hundreds of bytes or more, by the route utf8::str_route picks.
PyRef long_str_by_route(std::string_view text) {
  switch (utf8::str_route(text.data(), text.size())) {
    case utf8::StrRoute::utf8: return str_from_utf8(text);
    case utf8::StrRoute::utf32: return long_str_via_code_points(text, utf8::count_characters(text));
    case utf8::StrRoute::utf16: break;
  }
  return long_str_via_utf16(text);
}

// A whole text shorter than this goes to the UTF-8 decoder, whose start
// costs less than any detour there.
constexpr std::size_t long_whole_text = 256;

// --- The caches of loads -----------------------------------------------------

// Documents repeat their keys, within one text (records in a list share
// one set) and from one call to the next (a stream of records of one
// shape), and their short values too. Reusing the str made for an earlier
// occurrence saves making it again, and the dict store reuses the hash
// cached in a key.
//
// Each cache (one for keys, one for values) has two slots a bucket and is
// process-wide: the module lives in the main interpreter only, and every
// use runs under the interpreter lock, so the lock guards it. A slot keeps
// its own copy of the string's bytes, since the text it came from is gone
// after the call. What a cache pins is bounded by its size: at most
// 2 * bucket_count strs of up to longest_cached bytes. The slots are plain data,
// never destroyed, so nothing here drops a reference at exit, when the
// lock may no longer be held; the interpreter's own teardown does not need
// these strs freed.
constexpr std::size_t longest_cached = 64;

struct Slot {
  PyObject* str;  // strong reference, or NULL while the slot is empty
  KeyWords words;
  char bytes[longest_cached];
};

// Two slots a bucket: a document's keys are a few dozen to a few hundred,
// and where two of them meet in a bucket of one slot and alternate (the
// two keys of every point of a map) each would push out the other on
// every use.
struct Bucket {
  Slot ways[2];
};

constexpr int bucket_bits = 8;
constexpr std::size_t bucket_count = std::size_t{1} << bucket_bits;

using Buckets = std::array<Bucket, bucket_count>;
constinit Buckets key_buckets{};
constinit Buckets value_buckets{};

// Multiplicative hashing, read from the top bits of the products, which
// depend on every bit of the words: the low bits depend only on the first
// bytes, which keys of one document often share (numbers as keys, common
// prefixes).
std::size_t bucket_of(const KeyWords& w) noexcept {
  const std::uint64_t h = ((w.head + w.size) * 0x9E3779B97F4A7C15u) ^ (w.tail * 0xC2B2AE3D27D4EB4Fu);
  return static_cast<std::size_t>(h >> (64 - bucket_bits));
}

// Whether the slot holds `key`, whose words are `words`. Past sixteen
// bytes, the bytes between the two words are compared too.
bool holds(const Slot& slot, const KeyWords& words, std::string_view key) noexcept {
  if (slot.str == nullptr || !(slot.words == words)) return false;
  return key.size() <= 16 || std::memcmp(slot.bytes + 8, key.data() + 8, key.size() - 16) == 0;
}

// `key` is in neither slot of `bucket`: its str is made and takes the
// first slot, whose str moves to the second, pushing out the one there.
// Out of line, so that the lookups that find their str (most of them)
// carry no room for code points nor the saving of registers for the call.
[[gnu::noinline]] PyRef cache_miss(Bucket& bucket, const KeyWords& words, std::string_view key) noexcept {
  wchar_t room[longest_cached];
  PyRef str = utf8::is_ascii(key) ? str_from_ascii(key) : str_via_code_points_in(key, room);
  if (!str) return str;
  // The slots are whole again before the str pushed out is dropped.
  const PyRef old = PyRef::steal(bucket.ways[1].str);
  bucket.ways[1] = bucket.ways[0];
  Slot& slot = bucket.ways[0];
  slot.str = str.new_reference();
  slot.words = words;
  // An empty key's data may be null, which memcpy must not be given.
  if (!key.empty()) std::memcpy(slot.bytes, key.data(), key.size());
  return str;
}

PyRef cached_str(Buckets& buckets, std::string_view key, bool& found) noexcept {
  found = false;
  if (key.size() > longest_cached) return str_from_utf8(key);
  const KeyWords words = words_of(key);
  Bucket& bucket = buckets[bucket_of(words)];
  for (const Slot& slot : bucket.ways) {
    if (holds(slot, words, key)) {
      found = true;
      return PyRef::borrow(PyHandle(slot.str));
    }
  }
  return cache_miss(bucket, words, key);
}

static_assert(LoadsStrs::longest_cached_value <= longest_cached);

}  // namespace

PyResult<PyRef> checked_str_from_utf8(OutputBuffer& text) {
  const std::size_t size = text.size();
  // A glance at the start, as str_route takes, before the pass over the
  // whole text that the layout takes.
  const bool may_detour =
      size >= long_whole_text &&
      utf8::str_route(text.data(), std::min(size, utf8::str_route_glance)) != utf8::StrRoute::utf8;
  const utf8::InPlaceLayout layout = may_detour ? utf8::in_place_layout(text.data(), size)
                                                : utf8::InPlaceLayout{0, 0, 0, utf8::StrRoute::utf8};
  PyRef str;
  switch (layout.route) {
    case utf8::StrRoute::utf8: str = str_from_utf8(text.view()); break;
    case utf8::StrRoute::utf32: str = long_str_via_code_points(text.view(), layout.characters); break;
    case utf8::StrRoute::utf16: str = long_str_via_utf16_in_place(text, layout); break;
  }
  if (!str) return failure(api_call_failed());
  return str;
}

PyResult<PyRef> checked_str_from_utf8(std::string_view text) {
  PyRef str = text.size() >= long_whole_text ? long_str_by_route(text) : str_from_utf8(text);
  if (!str) return failure(api_call_failed());
  return str;
}

PyRef LoadsStrs::key(std::string_view key) noexcept {
  bool found;
  return cached_str(key_buckets, key, found);
}

PyObject* LoadsStrs::from_value_cache(std::string_view text) {
  bool found;
  PyRef str = cached_str(value_buckets, text, found);
  value_credit_ = found ? std::min(value_credit_ + 4, max_value_credit) : value_credit_ - 1;
  return str.release();
}

PyObject* LoadsStrs::short_str_via_code_points(std::string_view text) {
  wchar_t room[longest_on_stack];
  return str_via_code_points_in(text, room).release();
}

PyObject* LoadsStrs::long_str(std::string_view text) { return long_str_by_route(text).release(); }

}  // namespace vardelquin
