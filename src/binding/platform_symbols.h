// Run-time lookup of the running interpreter's functions by name: the one
// place that knows how the platform's loader finds them. Newer calls are
// looked up, never linked, so that one build loads into every interpreter
// from 3.9 on; a port to another loader changes platform_symbols.cpp only.
#pragma once

namespace vardelquin {

// The address of the interpreter's exported function `name`, or null when
// the running interpreter has none by that name.
void* find_interpreter_symbol(const char* name) noexcept;

// The same, typed: Function is the function's type, e.g. int(). The caller
// vouches for the type, which the loader cannot check.
template <class Function>
Function* find_interpreter_function(const char* name) noexcept {
  return reinterpret_cast<Function*>(find_interpreter_symbol(name));
}

}  // namespace vardelquin
