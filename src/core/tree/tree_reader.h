// Reads text into a document in one forward pass, without recursion (see
// reader/text_reader.h, which reports what it reads to any sink; this one
// gathers a value tree).
//   document := F* (key K value F*)*      key runs to the next K
//   value    := LO list | OO object | scalar
//   list     := LC | value (LS value)* LC
//   object   := OC | key K value (F key K value)* OC
// Scalars end at F, K, LS, LC or OC; the escape character makes the next
// character literal. A failure comes back as data, with its byte offset.
#pragma once

#include <string>
#include <string_view>

#include "config/format_config.h"
#include "failure.h"
#include "support/expected.h"
#include "tree/document.h"

namespace vardelquin {

// `text` must be well-formed UTF-8, and must outlive the document: keys
// and strings without escapes are views of it.
Expected<Document, Failure> parse_document(std::string_view text, const FormatConfig& config);

}  // namespace vardelquin
