#include "binding/messages.h"

namespace vardelquin::message {
namespace {

// 'a', 'a' and 'b', 'a', 'b', and 'c'.
std::string quoted_name_list(std::span<const std::string_view> names) {
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) {
      if (names.size() > 2) out += ',';
      out += ' ';
      if (i + 1 == names.size()) out += "and ";
    }
    out += '\'';
    out += names[i];
    out += '\'';
  }
  return out;
}

}  // namespace

std::string too_many_positional(std::string_view label, std::size_t least, std::size_t most,
                                std::size_t given) {
  return std::string(label) + " takes from " + std::to_string(least) + " to " + std::to_string(most) +
         " positional arguments but " + std::to_string(given) + (given == 1 ? " was" : " were") + " given";
}

std::string multiple_values(std::string_view label, std::string_view parameter) {
  return std::string(label) + " got multiple values for argument '" + std::string(parameter) + "'";
}

std::string missing_positional(std::string_view label, std::span<const std::string_view> parameters) {
  return std::string(label) + " missing " + std::to_string(parameters.size()) + " required positional " +
         (parameters.size() == 1 ? "argument" : "arguments") + ": " + quoted_name_list(parameters);
}

std::string unexpected_keyword_format(std::string_view label) {
  return std::string(label) + " got an unexpected keyword argument '%S'";
}

std::string argument_format(std::string_view parameter) {
  return "argument '" + std::string(parameter) + "': %S";
}

}  // namespace vardelquin::message
