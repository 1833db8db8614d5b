#include "binding/interpreter.h"

#include <charconv>
#include <string_view>

#include "binding/platform_symbols.h"

namespace vardelquin {
namespace {

// Major and minor from a version text such as "3.11.7 (main, ...)".
bool parse_interpreter_version(const char* text, int& major, int& minor) {
  std::string_view version(text);
  version = version.substr(0, version.find(' '));
  const char* first = version.data();
  const char* last = first + version.size();
  auto [after_major, major_error] = std::from_chars(first, last, major);
  if (major_error != std::errc() || after_major == last || *after_major != '.') return false;
  auto [after_minor, minor_error] = std::from_chars(after_major + 1, last, minor);
  if (minor_error != std::errc() || after_minor == after_major + 1) return false;
  return after_minor == last || *after_minor == '.' || (*after_minor >= 'a' && *after_minor <= 'z') ||
         *after_minor == '+';
}

InterpreterApi read_interpreter_api() {
  InterpreterApi api;
  int major = 0;
  int minor = 0;
  if (!parse_interpreter_version(Py_GetVersion(), major, minor)) return api;
  api.at_least_3_10 = major > 3 || (major == 3 && minor >= 10);
  api.at_least_3_12 = major > 3 || (major == 3 && minor >= 12);
  if (api.at_least_3_10) {
    api.unicode_as_utf8_and_size =
        find_interpreter_function<const char*(PyObject*, Py_ssize_t*)>("PyUnicode_AsUTF8AndSize");
    api.gc_disable = find_interpreter_function<int()>("PyGC_Disable");
    api.gc_enable = find_interpreter_function<int()>("PyGC_Enable");
    if (api.gc_disable == nullptr || api.gc_enable == nullptr) api.gc_disable = api.gc_enable = nullptr;
  }
  return api;
}

}  // namespace

const InterpreterApi& interpreter_api() {
  // Reading the version runs no Python code, so a thread waiting on this
  // initialisation cannot hold up the one that runs it.
  static const InterpreterApi api = read_interpreter_api();
  return api;
}

}  // namespace vardelquin
