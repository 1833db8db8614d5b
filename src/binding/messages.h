// The messages that the binding raises in words of its own, all of them
// here, as the core's are in src/core/messages.cpp, so that their
// spellings are read and changed together;
// tests/python/test_binding_messages.py pins each one a test can reach.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace vardelquin::message {

// Argument binding. `label` names the callable: "dumps()",
// "FormatConfig.__new__()".
std::string too_many_positional(std::string_view label, std::size_t least, std::size_t most,
                                std::size_t given);
std::string multiple_values(std::string_view label, std::string_view parameter);
std::string missing_positional(std::string_view label, std::span<const std::string_view> parameters);
// Formats for PyUnicode_FromFormat, whose %S takes the key or the message.
std::string unexpected_keyword_format(std::string_view label);  // then the key
std::string argument_format(std::string_view parameter);        // then the first message
inline constexpr const char* not_one_character = "expected a string of length 1";

// The FormatConfig class.
inline constexpr const char* config_not_initialized =
    "FormatConfig object is not initialized; create it by calling FormatConfig()";
inline constexpr const char* config_being_read = "Already borrowed";
inline constexpr const char* config_being_written = "Already mutably borrowed";
inline constexpr const char* attribute_not_deletable = "can't delete attribute";
inline constexpr const char* config_class_failed = "An error occurred while initializing class FormatConfig";
inline constexpr const char* config_class_being_made = "FormatConfig is being created by this thread";

// The module.
inline constexpr const char* no_subinterpreters = "vardelquin does not support sub-interpreters";
inline constexpr const char* initialised_once =
    "Quillon modules compiled for CPython 3.8 or older may only be initialized once per interpreter process";
inline constexpr const char* name_not_appended = "could not append __name__ to __all__";

// The call frame.
inline constexpr const char* internal_failure = "internal failure in native code";
inline constexpr const char* unexpected_native_exception = "unexpected exception in native code";
inline constexpr const char* not_an_exception = "exceptions must derive from BaseException";
inline constexpr const char* nothing_to_fetch = "attempted to fetch exception but none was set";
inline constexpr const char* internal_failure_class_being_made =
    "InternalFailure is being created by this thread";

// Internal failures: the text of the InternalFailure raised. Only the two
// on a dict changed while dumps writes it are a caller's doing; the rest
// name states that a defect alone would reach.
inline constexpr const char* dict_changed_size = "dictionary changed size during iteration";
inline constexpr const char* dict_keys_changed = "dictionary keys changed during iteration";
inline constexpr const char* api_call_failed = "Python API call failed";
inline constexpr const char* default_config_invalid = "default FormatConfig is always valid";
inline constexpr const char* config_type_not_created = "failed to create type object for `FormatConfig`";
inline constexpr const char* no_tp_free = "PyBaseObject_Type should have tp_free";
inline constexpr const char* str_part_not_encoded = "a part of a str failed to encode, but not the whole";
inline constexpr const char* surrogate_encoded = "a str with a surrogate encoded as UTF-8";
inline constexpr const char* unknown_value_tag = "unknown value tag";

}  // namespace vardelquin::message
