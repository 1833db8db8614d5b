// The UTF-8 text that loads reads from its str argument.
//
// A small str, and a large one of ASCII only, lend their own UTF-8 bytes
// as text.h's policy has it. Any other large str is read here as 32-bit
// code points, a block at a time, and transcoded into storage of the
// call's own: the
// interpreter's encoder would cost several times as much, and its copy
// would stay on the caller's str.
//
// Code points are the narrowest units the limited API hands out for a
// part of a str: it has no call that lends a str's own Latin-1, UCS-2 or
// UCS-4 units, and the encoders that write a part in a fixed width
// (UTF-16, UTF-32, Latin-1) cost several times the widening copy, per
// character, on tweets and on prose. So a part costs its cut (the
// interpreter scans it for its widest character and narrows it), the
// widening copy and the transcoding; on tweets, about 9%, 3% and 11% of
// the call.
#pragma once

#include <string_view>

#include "binding/call_frame.h"
#include "support/output_buffer.h"

namespace vardelquin {

class SourceText {
 public:
  std::string_view text() const noexcept { return text_; }

 private:
  friend PyResult<SourceText> source_text(PyHandle str);
  std::string_view text_;
  PyRef bytes_;        // when the interpreter encoded the text
  OwnedText storage_;  // when it was transcoded here
};

// The strict UTF-8 of `str`, a str, for as long as the result lives; the
// interpreter's own UnicodeEncodeError, unchanged, for a lone surrogate.
PyResult<SourceText> source_text(PyHandle str);

}  // namespace vardelquin
