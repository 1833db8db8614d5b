#include "binding/text.h"

#include <cwchar>

#include "binding/names.h"
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

}  // namespace

PyResult<PyRef> checked_str_from_utf8(std::string_view text) {
  PyRef str = str_from_utf8(text);
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
