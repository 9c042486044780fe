#include "cli/explain.hpp"

#include "analysis/rule_catalog.hpp"

namespace keyhound {

std::optional<CommandExit> explain_request(const ParsedArguments& arguments,
                                           std::span<const std::string> argv) {
  std::optional<std::string> code = arguments.last("explain");
  if (!code) return std::nullopt;
  // Asking about a rule cannot turn anything off: any case will do.
  if (const RuleDescription* rule = find_rule_in_any_case(*code)) {
    return CommandExit{Stream::Stdout, {explanation_text(*rule)}, 0};
  }
  std::string codes;
  for (const RuleDescription& rule : rule_descriptions()) {
    if (!codes.empty()) codes += ", ";
    codes += rule.code;
  }
  return usage_error(native_command(), argv,
                     CommandLineError{CommandLineError::Kind::InvalidValue, *code, "--explain",
                                      "expected one of: " + codes});
}

}  // namespace keyhound
