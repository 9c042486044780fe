#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/findings.hpp"

namespace keyhound {

// What keyhound says about each of its rules: the one place their names
// and explanations live, for --explain, SARIF's rule table and the README.
struct RuleDescription {
  std::string_view code;
  std::string_view name;
  // One line: what a finding is.
  std::string_view summary;
  // A paragraph: what the rule finds and why it matters.
  std::string_view description;
  // How to fix a finding, and how to suppress a reviewed one.
  std::string_view help;
  // A short program with a finding, and the same program fixed.
  std::string_view example;
  std::string_view fixed_example;
  // What precise mode (the command's default) leaves out.
  std::string_view precise_mode;
};

std::span<const RuleDescription> rule_descriptions();
const RuleDescription* find_rule(std::string_view code);
// The same, in any case ("kh001" finds KH001).
const RuleDescription* find_rule_in_any_case(std::string_view code);

// The text `keyhound --explain CODE` prints.
std::string explanation_text(const RuleDescription& rule);

// The selector of every code.
inline constexpr std::string_view kAllCodes = "ALL";

// Whether a selector (a code, a prefix of one, or ALL) picks out `code`.
bool selector_matches(std::string_view selector, std::string_view code);

// Unused suppression comments (KH100) are reported only when a selector
// asks for them by more than the common prefix (KH1, KH10, KH100) or ALL,
// since the default is to report what can raise.
bool selects_opt_in(std::string_view selector, std::string_view code);
bool is_opt_in(std::string_view code);
// Whether `selectors` (a select list) ask for unused suppressions.
bool selects_unused_suppressions(const std::vector<std::string>& selectors);

// Why a selector picks out no rule, with a suggestion when one is near
// ("did you mean 'KH001'?"); nothing for a good selector.
std::optional<std::string> selector_problem(std::string_view selector);

}  // namespace keyhound
