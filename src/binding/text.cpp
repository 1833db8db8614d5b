#include "binding/text.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

#include "binding/names.h"
#include "support/transcode.h"
#include "support/utf8.h"

namespace vardelquin {
namespace {

// Whether a large str is ASCII, and so lends its bytes without growing.
// Asking costs a method call, small beside encoding a large text. When the
// question cannot be asked the answer is no, and the str is encoded: the
// cautious branch, which only costs time.
bool is_ascii(PyHandle str) {
  // A subclass may override isascii(); asking it would run its code.
  if (str.type() != &PyUnicode_Type) return false;
  const ErrorScope keep;
  const InternedNames* names = interned_names();
  if (names == nullptr) return false;
  const PyRef answer = PyRef::steal(PyObject_CallMethodObjArgs(str.get(), names->isascii.get(), nullptr));
  return answer.get() == Py_True;
}

// Room for `units` units; null, with MemoryError set, where there is no
// memory for it, as where the interpreter's own allocations fail: loads
// asks for it in the middle of building its result.
std::unique_ptr<char16_t[]> room_for(std::size_t units) {
  std::unique_ptr<char16_t[]> room(new (std::nothrow) char16_t[units]);
  if (!room) PyErr_NoMemory();
  return room;
}

// Through the code points, as wide characters, where a wchar_t holds any
// (not on Windows, whose text goes to the UTF-8 decoder). The text has
// `characters` characters.
PyRef str_from_code_points_of(std::string_view text, std::size_t characters) {
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

// The text's UTF-16 written over it, as `layout` places it; the buffer is
// left empty.
PyRef str_from_utf16_in_place(OutputBuffer& text, const utf8::InPlaceLayout& layout) {
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

// Below this the UTF-8 decoder's start costs less than any detour.
constexpr std::size_t long_text = 256;

}  // namespace

PyRef str_from_long_utf8(std::string_view text) {
  switch (utf8::str_route(text.data(), text.size())) {
    case utf8::StrRoute::utf8: return str_from_utf8(text);
    case utf8::StrRoute::utf32: return str_from_code_points_of(text, utf8::count_characters(text));
    case utf8::StrRoute::utf16: break;
  }
  const std::unique_ptr<char16_t[]> room = room_for(utf8::max_utf16_units(text.size()));
  if (!room) return PyRef();
  return str_from_utf16(room.get(), utf8::to_utf16(text.data(), text.size(), room.get()));
}

PyResult<PyRef> checked_str_from_utf8(OutputBuffer& text) {
  const std::size_t size = text.size();
  // A glance at the start, as str_route takes, before the pass over the
  // whole text that the layout takes.
  const bool may_detour =
      size >= long_text &&
      utf8::str_route(text.data(), std::min(size, utf8::str_route_glance)) != utf8::StrRoute::utf8;
  const utf8::InPlaceLayout layout = may_detour ? utf8::in_place_layout(text.data(), size)
                                                : utf8::InPlaceLayout{0, 0, 0, utf8::StrRoute::utf8};
  PyRef str;
  switch (layout.route) {
    case utf8::StrRoute::utf8: str = str_from_utf8(text.view()); break;
    case utf8::StrRoute::utf32: str = str_from_code_points_of(text.view(), layout.characters); break;
    case utf8::StrRoute::utf16: str = str_from_utf16_in_place(text, layout); break;
  }
  if (!str) return failure(api_call_failed());
  return str;
}

PyResult<PyRef> checked_str_from_utf8(std::string_view text) {
  PyRef str = text.size() >= long_text ? str_from_long_utf8(text) : str_from_utf8(text);
  if (!str) return failure(api_call_failed());
  return str;
}

PyRef str_from_code_points(std::string_view text, wchar_t* room) {
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

const char* Utf8Lender::large_utf8(PyHandle str, Py_ssize_t& size, PyRef& made) const {
  return is_ascii(str) ? as_utf8_(str.get(), &size) : encode(str, size, made);
}

bool is_ascii_str(PyHandle str) { return is_ascii(str); }

PyResult<Utf8View> utf8_view(PyHandle str) {
  Utf8View view;
  Py_ssize_t size = 0;
  const char* data = Utf8Lender().utf8(str, size, view.bytes_);
  if (data == nullptr) return failure(fetch_exception());
  view.text_ = std::string_view(data, static_cast<std::size_t>(size));
  return view;
}

PyResult<std::string> text_from_str(PyHandle object) {
  if (!is_str(object)) return failure(PendingException::cast(object, PyHandle(&PyUnicode_Type)));
  PyResult<Utf8View> view = utf8_view(object);
  if (!view) return failure(std::move(view).error());
  return std::string(view->text());
}

}  // namespace vardelquin
