// The production path, end to end: an interpreter embedded in the fuzz
// target imports the module (the binding's sources are compiled into the
// target, so the sanitizers and the fuzzer's coverage see them) and runs
// fuzz/fuzz_python.py on each input. That file drives loads and dumps and
// checks them against the pure-Python model of tests/python/model.py and
// against the core's value-tree path, which it reaches through the small
// built-in module defined here. A check that fails raises, and the target
// aborts with the traceback printed, so that libFuzzer keeps the input.
//
// This file uses the interpreter's full API (embedding is not part of the
// limited one), so it includes Python.h itself and no binding header.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "failure.h"
#include "fuzz_support.h"
#include "tree/tree_reader.h"
#include "tree/tree_writer.h"

extern "C" PyObject* PyInit_vardelquin();

namespace vardelquin::fuzz {
namespace {

// The configuration of the input being run, for the core's side.
std::optional<FormatConfig> current_config;

PyObject* str_of(std::string_view text) {
  return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict");
}

// core_read(text) -> ("ok", [(key, the text of its value), ...])
//                  | ("ValueError", message, offset)
// under the configuration of the input being run. The entries come as
// the tree holds them, a repeated key as often as it was read.
PyObject* core_read(PyObject*, PyObject* arg) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(arg, &size);
  if (data == nullptr) return nullptr;
  const std::string_view text(data, static_cast<std::size_t>(size));
  auto document = parse_document(text, *current_config);
  if (!document) {
    const Failure& failure = document.error();
    const std::string message = failure_message(failure);
    return Py_BuildValue("(sNn)", "ValueError", str_of(message), static_cast<Py_ssize_t>(failure.offset));
  }
  PyObject* entries = PyList_New(0);
  if (entries == nullptr) return nullptr;
  for (const Member& entry : *document) {
    const OwnedText value = write_value(entry.value, *current_config);
    PyObject* pair = Py_BuildValue("(NN)", str_of(entry.key), str_of(value.view()));
    if (pair == nullptr || PyList_Append(entries, pair) != 0) {
      Py_XDECREF(pair);
      Py_DECREF(entries);
      return nullptr;
    }
    Py_DECREF(pair);
  }
  return Py_BuildValue("(sN)", "ok", entries);
}

PyMethodDef core_methods[] = {
    {"core_read", core_read, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};
PyModuleDef core_module = {PyModuleDef_HEAD_INIT, "_fuzz_core", nullptr, -1, core_methods,
                           nullptr, nullptr, nullptr, nullptr};

PyObject* init_core_module() { return PyModule_Create(&core_module); }

[[noreturn]] void python_failed(const char* what) {
  PyErr_Print();
  fail(what);
}

// fuzz_python.one_input, once the interpreter is up.
PyObject* start_interpreter() {
  // Every object through malloc, where AddressSanitizer sees each one.
  setenv("PYTHONMALLOC", "malloc", 0);
  PyImport_AppendInittab("vardelquin", PyInit_vardelquin);
  PyImport_AppendInittab("_fuzz_core", init_core_module);
  Py_InitializeEx(0);
  PyObject* sys_path = PySys_GetObject("path");
  for (const char* dir : {VARDELQUIN_SOURCE_DIR "/fuzz", VARDELQUIN_SOURCE_DIR "/tests/python",
                          VARDELQUIN_SOURCE_DIR "/src/python"}) {
    PyObject* entry = PyUnicode_FromString(dir);
    if (entry == nullptr || PyList_Insert(sys_path, 0, entry) != 0) python_failed("sys.path");
    Py_DECREF(entry);
  }
  PyObject* checks = PyImport_ImportModule("fuzz_python");
  if (checks == nullptr) python_failed("import fuzz_python");
  PyObject* one_input = PyObject_GetAttrString(checks, "one_input");
  if (one_input == nullptr) python_failed("fuzz_python.one_input");
  Py_DECREF(checks);
  return one_input;
}

}  // namespace
}  // namespace vardelquin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vardelquin;
  static PyObject* const one_input = fuzz::start_interpreter();
  fuzz::ByteSource in(data, size);
  fuzz::current_config.emplace(fuzz::config_from(in));
  PyObject* fields = PyDict_New();
  if (fields == nullptr) fuzz::python_failed("fields");
  const FormatFields& record = fuzz::current_config->fields();
  for (std::size_t i = 0; i < field_count; ++i) {
    const std::string value = i < delimiter_count ? std::string(1, static_cast<char>(record.delimiters[i]))
                                                  : record.keywords[i - delimiter_count];
    PyObject* text = fuzz::str_of(value);
    if (text == nullptr || PyDict_SetItemString(fields, std::string(field_names[i]).c_str(), text) != 0) {
      fuzz::python_failed("fields");
    }
    Py_DECREF(text);
  }
  const std::string_view rest = in.rest();
  PyObject* result = PyObject_CallFunction(one_input, "Ny#", fields, rest.data(), static_cast<Py_ssize_t>(rest.size()));
  if (result == nullptr) fuzz::python_failed("a check of fuzz_python.py");
  Py_DECREF(result);
  return 0;
}
