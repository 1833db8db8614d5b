// Renders a value tree as text, through the text writer (writer/text_writer.h),
// which is the definition of the format:
//   document := (key K value F)*
//   value    := null | true | false | integer | float | string
//             | LO [value (LS value)*] LC
//             | OO [key K value (F key K value)*] OC
// Keys and strings are escaped: each ASCII delimiter, the escape included,
// gets the escape character in front of it. So are numbers, under a
// configuration whose delimiters include characters that numbers are
// spelled with (a digit, '-', '.', a letter of NaN or inf); the reader takes
// escaped characters literally and so reads the same number back. Nothing
// else is ever written.
#pragma once

#include <string>
#include <string_view>

#include "config/format_config.h"
#include "support/output_buffer.h"
#include "tree/document.h"

namespace vardelquin {

// The writer cannot fail. The tree must be no deeper than max_nesting_depth.
OwnedText write_document(const Document& document, const FormatConfig& config);
// Appends the text to `out`, for a caller that keeps its buffer for the
// next document.
void write_document(const Document& document, const FormatConfig& config, OutputBuffer& out);
OwnedText write_value(const Value& value, const FormatConfig& config);
OwnedText escape_text(std::string_view text, const FormatConfig& config);

// Number spellings, shared with tests and tools.
std::string format_integer(std::int64_t value);
// Integral finite values exactly with ".0"; others with the shortest
// round-trip digits, positional, never an exponent; "NaN", "inf", "-inf".
std::string format_float(double value);

}  // namespace vardelquin
