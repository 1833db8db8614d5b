// Configurations for tests: the defaults with some fields edited, built
// through the same validation as every record. An edit that breaks a rule
// fails the test that made it.
#pragma once

#include <functional>
#include <stdexcept>
#include <utility>

#include "config/format_config.h"
#include "failure.h"

namespace vardelquin::testing {

inline FormatConfig make_config(const std::function<void(FormatFields&)>& edit = {}) {
  FormatFields fields = FormatFields::default_values();
  if (edit) edit(fields);
  auto config = FormatConfig::create(std::move(fields));
  if (!config) throw std::runtime_error(failure_message(config.error()));
  return std::move(config).value();
}

}  // namespace vardelquin::testing
