#include "binding/source_text.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <type_traits>

#include "binding/messages.h"
#include "binding/text.h"
#include "support/transcode.h"

namespace vardelquin {
namespace {

static_assert(std::is_same_v<Py_UCS4, std::uint32_t>, "the transcoder reads Py_UCS4 as uint32_t");

// Characters read at a time: their code points take 16 KiB, and the
// part of the str made to read them at most as much. A memory bound of
// its own, whatever size of str lends its UTF-8 (Utf8Lender::small_str).
constexpr Py_ssize_t part_characters = 4096;
// The interpreter's error for a str that UTF-8 cannot hold, by asking its
// encoder, which raises it.
PendingException encoding_failure(PyHandle str) {
  const PyRef encoded = PyRef::steal(PyUnicode_AsUTF8String(str.get()));
  if (!encoded) return fetch_exception();
  return PendingException::internal(message::surrogate_encoded);
}

// The UTF-8 of `str` (`length` characters), in storage of its own. The
// code points are read a block at a time (each block a part of the str,
// copied out by the interpreter) into a buffer that stays in the cache,
// so that the text is never held at four bytes a character: reading it
// whole would raise a call's peak memory by that much.
PyResult<Ok> transcode(PyHandle str, Py_ssize_t length, OutputBuffer& text) {
  const Py_ssize_t points_size = std::min(length, part_characters);
  const auto points = std::make_unique_for_overwrite<Py_UCS4[]>(static_cast<std::size_t>(points_size));
  // A UTF-8 text takes a byte a character at least, and often not much more.
  text.reserve(static_cast<std::size_t>(length) + utf8::max_bytes(static_cast<std::size_t>(points_size)));
  for (Py_ssize_t start = 0; start < length; start += part_characters) {
    const Py_ssize_t count = std::min(part_characters, length - start);
    PyRef part;
    PyHandle from = str;
    if (count != length) {
      part = PyRef::steal(PyUnicode_Substring(str.get(), start, start + count));
      if (!part) return failure(fetch_exception());
      from = part.handle();
    }
    if (PyUnicode_AsUCS4(from.get(), points.get(), count, 0) == nullptr) return failure(fetch_exception());
    const auto n = static_cast<std::size_t>(count);
    char* const out = text.reserve(utf8::max_bytes(n));
    const std::size_t written = utf8::from_code_points(points.get(), n, out);
    if (written == utf8::surrogate_found) return failure(encoding_failure(str));
    text.commit(out + written);
  }
  return Ok{};
}

}  // namespace

PyResult<SourceText> source_text(PyHandle str) {
  SourceText source;
  const Py_ssize_t length = PyUnicode_GetLength(str.get());
  if (length < 0) return failure(fetch_exception());
  const auto lend = interpreter_api().unicode_as_utf8_and_size;
  Py_ssize_t size = 0;
  const char* data = nullptr;
  if (length < Utf8Lender::small_str) {
    data = Utf8Lender().utf8(str, length, size, source.bytes_);
  } else if (lend != nullptr && is_ascii_str(str)) {
    data = lend(str.get(), &size);
  } else {
    OutputBuffer text;
    if (PyResult<Ok> done = transcode(str, length, text); !done) return failure(std::move(done).error());
    source.storage_ = std::move(text).finish();
    source.text_ = source.storage_.view();
    return source;
  }
  if (data == nullptr) return failure(fetch_exception());
  source.text_ = std::string_view(data, static_cast<std::size_t>(size));
  return source;
}

}  // namespace vardelquin
