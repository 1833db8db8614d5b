#include "binding/entry_points.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "binding/arguments.h"
#include "binding/format_config_type.h"
#include "binding/from_text.h"
#include "binding/messages.h"
#include "binding/source_text.h"
#include "binding/text.h"
#include "binding/to_text.h"
#include "failure.h"

namespace vardelquin {
namespace {

constexpr std::array<std::string_view, 2> dumps_parameters = {"obj", "config"};
constexpr std::array<std::string_view, 2> loads_parameters = {"s", "config"};
const ArgumentSpec dumps_spec{"dumps", "", dumps_parameters, 1};
const ArgumentSpec loads_spec{"loads", "", loads_parameters, 1};

// The configuration of one call: the record it reads, and the read hold
// on the caller's FormatConfig for as long as the call runs. The hold
// keeps every writer out, so the call reads the instance's record in place
// instead of copying it; without a config it reads the default record,
// which is built once.
struct WorkingConfig {
  const FormatConfig* record;
  std::optional<ConfigReadHold> hold;
};

// The record of a call without a config, built once.
PyResult<const FormatConfig*> default_record() {
  static const auto defaults = FormatConfig::defaults();
  if (!defaults) return internal_failure(message::default_config_invalid);
  return &*defaults;
}

PyResult<WorkingConfig> settle_config(PyHandle config) {
  if (!config || config.get() == Py_None) {
    PyResult<const FormatConfig*> record = default_record();
    if (!record) return failure(std::move(record).error());
    return WorkingConfig{*record, std::nullopt};
  }
  PyResult<ConfigReadHold> hold = hold_for_reading(config);
  if (!hold) return failure(wrap_argument_error("config", std::move(hold).error()));
  const FormatConfig* record = &hold->record();
  return WorkingConfig{record, std::move(*hold)};
}

}  // namespace

PyObject* dumps(PyObject*, PyObject* args, PyObject* kwargs) {
  return object_frame([&]() -> PyResult<PyRef> {
    // The commonest call, dumps(d) with an exact dict, cannot fail the
    // binding, the cast or the settling of the configuration, so it goes
    // straight to the default record: those steps are a tenth of a small
    // record's call. Any other call takes the general path below.
    if (!kwargs && PyTuple_Size(args) == 1) {
      const PyHandle obj(PyTuple_GetItem(args, 0));
      if (obj.type() == &PyDict_Type) {
        PyResult<const FormatConfig*> record = default_record();
        if (!record) return failure(std::move(record).error());
        return str_of_dict(obj, **record);
      }
    }
    std::array<PyHandle, 2> slots{};
    if (auto bound = bind_arguments(dumps_spec, PyHandle(args), PyHandle(kwargs), slots); !bound) {
      return failure(std::move(bound).error());
    }
    const PyHandle obj = slots[0];
    if (!(PyType_GetFlags(obj.type()) & Py_TPFLAGS_DICT_SUBCLASS)) {
      return failure(wrap_argument_error("obj", cast_failure(obj, &PyDict_Type)));
    }
    PyResult<WorkingConfig> config = settle_config(slots[1]);
    if (!config) return failure(std::move(config).error());
    return str_of_dict(obj, *config->record);
  });
}

PyObject* loads(PyObject*, PyObject* args, PyObject* kwargs) {
  return object_frame([&]() -> PyResult<PyRef> {
    std::array<PyHandle, 2> slots{};
    if (auto bound = bind_arguments(loads_spec, PyHandle(args), PyHandle(kwargs), slots); !bound) {
      return failure(std::move(bound).error());
    }
    const PyHandle s = slots[0];
    if (!is_str(s)) return failure(wrap_argument_error("s", cast_failure(s, &PyUnicode_Type)));
    // The text is read in place: the only Python code loads runs is a
    // signal handler's, which can neither change the str nor take it from
    // the caller, so the str and its bytes stay untouched for the call.
    PyResult<SourceText> text = source_text(s);
    if (!text) return failure(wrap_argument_error("s", std::move(text).error()));
    PyResult<WorkingConfig> config = settle_config(slots[1]);
    if (!config) return failure(std::move(config).error());
    return dict_from_text(s, text->text(), *config->record);
  });
}

}  // namespace vardelquin
