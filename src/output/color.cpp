#include "output/color.hpp"

#include <string>

#include "base/environment.hpp"

namespace keyhound {
namespace {

std::string true_color_code(std::string_view prefix, TrueColor color) {
  std::string code(prefix);
  code += std::to_string(color.red);
  code += ';';
  code += std::to_string(color.green);
  code += ';';
  code += std::to_string(color.blue);
  return code;
}

std::string color_code(Color color, int normal_base, int bright_base,
                       std::string_view true_prefix) {
  if (const auto* named = std::get_if<NamedColor>(&color)) {
    int index = static_cast<int>(*named);
    return std::to_string(index < 8 ? normal_base + index : bright_base + (index - 8));
  }
  return true_color_code(true_prefix, std::get<TrueColor>(color));
}

}  // namespace

std::string Style::to_str() const {
  std::string codes;
  for (const auto& [bit, code] : STYLES) {
    if ((bits & bit) == 0) continue;
    if (!codes.empty()) codes += ';';
    codes += code;
  }
  return codes;
}

std::string to_fg_str(Color color) { return color_code(color, 30, 90, "38;2;"); }
std::string to_bg_str(Color color) { return color_code(color, 40, 100, "48;2;"); }

ShouldColorize ShouldColorize::from_env(int output_fd) {
  ShouldColorize decision;
  std::optional<std::string_view> clicolor = environment_value("CLICOLOR");
  bool allowed = !clicolor || *clicolor != "0";
  // The terminal test is made only when CLICOLOR allows colour.
  decision.terminal_default = allowed && isatty(output_fd) == 1;

  std::optional<std::string_view> force = environment_value("CLICOLOR_FORCE");
  if (force && *force != "0") {
    decision.forced = true;
  } else if (environment_value("NO_COLOR")) {
    decision.forced = false;
  }
  return decision;
}

const ShouldColorize& ProcessColorDecision::get() const {
  // A function-local static: built by exactly one thread, the others wait.
  static const ShouldColorize decision = ShouldColorize::from_env();
  return decision;
}

std::string compute_style(const Paint& paint, bool colorize) {
  if (!colorize || paint.is_plain()) return {};
  std::string sequence = "\x1b[";
  bool first = true;
  auto group = [&](const std::string& codes) {
    if (!first) sequence += ';';
    sequence += codes;
    first = false;
  };
  if (!paint.style.empty()) group(paint.style.to_str());
  if (paint.background) group(to_bg_str(*paint.background));
  if (paint.foreground) group(to_fg_str(*paint.foreground));
  sequence += 'm';
  return sequence;
}

void append_painted(std::string& line, std::string_view text, std::string_view start) {
  if (start.empty()) {
    line += text;
    return;
  }
  line += start;
  std::size_t from = 0;
  for (std::size_t at; (at = text.find(kResetSequence, from)) != std::string_view::npos;) {
    std::size_t after = at + kResetSequence.size();
    line += text.substr(from, after - from);
    line += start;
    from = after;
  }
  line += text.substr(from);
  line += kResetSequence;
}

}  // namespace keyhound
