// Long calls answer signals. A loads or dumps of many megabytes stops now
// and then, between two values, to run the handlers of signals that
// arrived meanwhile (Ctrl-C's KeyboardInterrupt, say); when a handler
// raises, the call ends with that exception, as with any other failure.
// A call shorter than one interval never stops at all.
//
// A handler is Python code: after a poll, anything the call has not kept
// alive with a strong reference may be gone, and any container it reads
// may have changed, just as after a str() of the caller's object.
#pragma once

#include <cstddef>

#include "binding/python.h"

namespace vardelquin {

// The intervals: a few milliseconds of work at most, so that an interrupt
// is seen promptly, while the polls' own cost stays far below anything
// measurable. loads counts the bytes it reads: its tests for the end of
// the text double as the tests for a poll (a few instructions a value, as
// the compiler can no longer fold them into the scan's). dumps counts the
// values it writes, the cheapest count it can keep (two instructions a
// value); a value's bytes take little time beside its own cost, except in
// a long str, which polls by itself (signal_poll_characters).
inline constexpr std::size_t signal_poll_bytes = std::size_t{1} << 20;
inline constexpr std::size_t signal_poll_values = std::size_t{1} << 14;
inline constexpr std::size_t signal_poll_characters = std::size_t{1} << 20;

// Runs the pending signal handlers. False, with the exception a handler
// raised set, when the call is to end.
[[gnu::cold, gnu::noinline]] inline bool run_signal_handlers() noexcept { return PyErr_CheckSignals() == 0; }

}  // namespace vardelquin
