#include "binding/source_text.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <type_traits>

#include "binding/text.h"
#include "support/transcode.h"

namespace vardelquin {
namespace {

static_assert(std::is_same_v<Py_UCS4, std::uint32_t>, "the transcoder reads Py_UCS4 as uint32_t");

// Below this many characters a str lends its UTF-8 (see Utf8Lender).
constexpr Py_ssize_t small_text = 4096;
// The interpreter's error for a str that UTF-8 cannot hold, by asking its
// encoder, which raises it.
PendingException encoding_failure(PyHandle str) {
  const PyRef encoded = PyRef::steal(PyUnicode_AsUTF8String(str.get()));
  if (!encoded) return fetch_exception();
  return PendingException::internal("a str with a surrogate encoded as UTF-8");
}

// The UTF-8 of `str` (`length` characters), in storage of its own. The
// code points are read into that storage and transcoded where they lie:
// one copy of the characters from the interpreter, with no part of the str
// made a str of its own (which would scan and narrow it first). The
// storage is then shrunk to the text, which gives back the pages beyond.
PyResult<detail::Storage> transcode(PyHandle str, Py_ssize_t length, std::size_t& size) {
  const auto count = static_cast<std::size_t>(length);
  if (count > PY_SSIZE_T_MAX / sizeof(Py_UCS4)) throw std::bad_alloc();
  detail::Storage storage(static_cast<char*>(std::malloc(utf8::max_bytes(count))));
  if (!storage) throw std::bad_alloc();
  auto* const points = reinterpret_cast<Py_UCS4*>(storage.get());
  if (PyUnicode_AsUCS4(str.get(), points, length, 0) == nullptr) return failure(fetch_exception());
  size = utf8::from_code_points(points, count, storage.get());
  if (size == utf8::surrogate_found) return failure(encoding_failure(str));
  if (void* shrunk = std::realloc(storage.get(), std::max<std::size_t>(size, 1))) {
    (void)storage.release();
    storage.reset(static_cast<char*>(shrunk));
  }
  return storage;
}

}  // namespace

PyResult<SourceText> source_text(PyHandle str) {
  SourceText source;
  const Py_ssize_t length = PyUnicode_GetLength(str.get());
  if (length < 0) return failure(fetch_exception());
  const auto lend = interpreter_api().unicode_as_utf8_and_size;
  Py_ssize_t size = 0;
  const char* data = nullptr;
  if (length < small_text) {
    data = Utf8Lender().utf8(str, length, size, source.bytes_);
  } else if (lend != nullptr && is_ascii_str(str)) {
    data = lend(str.get(), &size);
  } else {
    std::size_t transcoded = 0;
    PyResult<detail::Storage> storage = transcode(str, length, transcoded);
    if (!storage) return failure(std::move(storage).error());
    source.storage_ = std::move(*storage);
    source.text_ = std::string_view(source.storage_.get(), transcoded);
    return source;
  }
  if (data == nullptr) return failure(fetch_exception());
  source.text_ = std::string_view(data, static_cast<std::size_t>(size));
  return source;
}

}  // namespace vardelquin
