#include "binding/text.h"

#include <utility>

#include "binding/names.h"

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
