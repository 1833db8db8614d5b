// The Python class FormatConfig: an interpreter object that embeds one
// validated record and a borrow state (free, n readers, or one writer).
#pragma once

#include <cstdint>

#include "binding/call_frame.h"
#include "config/format_config.h"

namespace vardelquin {

// The class object, created on first use; it lives as long as the process.
PyResult<PyHandle> get_format_config_class();

// A FormatConfig instance taken for reading; released when this goes.
class ConfigReadHold {
 public:
  ConfigReadHold(ConfigReadHold&& other) noexcept = default;
  ConfigReadHold& operator=(ConfigReadHold&&) = delete;
  ~ConfigReadHold();

  const FormatConfig& record() const noexcept { return *record_; }

 private:
  friend PyResult<ConfigReadHold> hold_for_reading(PyHandle object);
  ConfigReadHold(PyRef instance, const FormatConfig* record) noexcept
      : instance_(std::move(instance)), record_(record) {}

  PyRef instance_;
  const FormatConfig* record_;
};

// Tests that `object` is a FormatConfig and takes its record for reading:
// a TypeError cast failure, or RuntimeError "Already mutably borrowed".
PyResult<ConfigReadHold> hold_for_reading(PyHandle object);

}  // namespace vardelquin
