#include "analysis/rule_catalog.hpp"

#include <vector>

#include "base/edit_distance.hpp"

#include <algorithm>
#include <array>
#include <cctype>

namespace keyhound {
namespace {

constexpr std::array<RuleDescription, 4> kRules = {{
    {"KH001", "unguarded-lookup", "A subscript that may raise KeyError",
     "A subscript that no try statement catching KeyError encloses: when the key is missing, "
     "the lookup raises KeyError, and a KeyError that nothing catches ends the program with a "
     "traceback that names a key but rarely the input that lacked it.",
     "Guard the lookup with try/except KeyError, use .get() with a default, or check the key "
     "first (if key in mapping); suppress a reviewed finding with '# noqa: KH001' at the end "
     "of its line.",
     "def port(cfg):\n"
     "    return cfg[\"port\"]\n",
     "def port(cfg):\n"
     "    return cfg.get(\"port\", 8080)\n",
     "it leaves out stores (d[k] = v), slices, integer indexes, type subscripts, lookups under a membership "
     "test or on a key known to be present, defaultdict and Counter lookups, sequences, and "
     "the key of __getitem__, __missing__ and __delitem__, and lookups in test code. It adds "
     "one source: a handler that only re-raises what it caught does not guard. It ranks each "
     "finding by how likely its key is to be missing, from where the mapping and the key come "
     "from. high: data from outside the program (os.environ, json.load, yaml and toml "
     "loads, a response's .json(), csv.DictReader rows, configparser, a request's headers, "
     "args, form, GET, POST, cookies or query_params, **kwargs), lookups chained into it, and "
     "a key from a parameter into a mapping the function does not build (HANDLERS[name], "
     "self.jobs[job_id]). medium: a constant key into a mapping from a parameter or a call "
     "(the caller's or callee's contract), a computed key into a shared mapping. low: a key "
     "into the program's own mapping (a literal, a module's or class's table). By default "
     "medium and high are reported: --min-confidence low (or min-confidence = \"low\") shows "
     "every finding, --min-confidence high only what comes from outside."},
    {"KH002", "call-may-raise", "A call of a function that may let a KeyError escape",
     "An unguarded call of a function of the same file that may let a KeyError escape, "
     "directly or through the functions it calls. The call is reported only where the "
     "callee's own lookups are not: when the callee holds an unguarded lookup of its own, "
     "that lookup is the finding to fix, and its callers are not reported.",
     "Guard the call with try/except KeyError, or make the function it calls handle the "
     "missing key; suppress a reviewed finding with '# noqa: KH002' at the end of its line.",
     "def load(cfg):\n"
     "    return cfg[\"port\"]  # KH001: the lookup itself\n"
     "\n"
     "def port(cfg):\n"
     "    return load(cfg)  # not reported: load shows its own lookup\n"
     "\n"
     "def main(cfg):\n"
     "    return port(cfg)  # KH002: port lets load's KeyError escape\n",
     "def main(cfg):\n"
     "    try:\n"
     "        return port(cfg)\n"
     "    except KeyError:\n"
     "        return 8080\n",
     "it reports a call once per line and callee, under the innermost function that holds "
     "it, and a bare name relates to a function only where that function is visible by it; "
     "it leaves out calls in test code."},
    {"KH003", "syntax-error", "A file that could not be parsed completely",
     "The parser met a syntax error; the file is analysed as far as the tree goes, so its "
     "other findings may be incomplete.",
     "Fix the syntax error, or check that the file is Python 3; suppress it with "
     "'# noqa: KH003' on the line of the error.",
     "def f(:\n"
     "    pass\n",
     "def f():\n"
     "    pass\n",
     "only it reports this; with --exact a file that does not parse is analysed "
     "silently as far as the tree goes."},
    {"KH100", "unused-suppression", "A suppression comment that suppresses nothing",
     "A '# noqa: KH00x' or '# keyhound: ignore' comment whose codes no finding on its line "
     "has in this run: the lookup it was written for was fixed, guarded or moved, and the "
     "comment now hides nothing but would hide the next finding on its line. Only codes "
     "that the run selects and checks count, and a bare '# noqa' is left alone, since other "
     "tools read it too. Not selected by default: select it by name (--select KH100, or "
     "ALL).",
     "Delete the comment, or the codes in it that no longer suppress anything.",
     "def port(cfg):\n"
     "    return cfg.get(\"port\", 8080)  # noqa: KH001\n",
     "def port(cfg):\n"
     "    return cfg.get(\"port\", 8080)\n",
     "only it reports this, and only when suppression comments are honoured."},
}};

void append_indented(std::string& text, std::string_view block) {
  std::size_t start = 0;
  while (start < block.size()) {
    std::size_t end = block.find('\n', start);
    if (end == std::string_view::npos) end = block.size();
    std::string_view line = block.substr(start, end - start);
    if (!line.empty()) {
      text += "    ";
      text += line;
    }
    text += '\n';
    start = end + 1;
  }
}

// A paragraph broken between words to lines of at most 79 columns.
void append_wrapped(std::string& text, std::string_view paragraph) {
  constexpr std::size_t kWidth = 79;
  std::size_t column = 0;
  std::size_t start = 0;
  while (start < paragraph.size()) {
    std::size_t end = paragraph.find(' ', start);
    if (end == std::string_view::npos) end = paragraph.size();
    std::string_view word = paragraph.substr(start, end - start);
    if (column > 0 && column + 1 + word.size() > kWidth) {
      text += '\n';
      column = 0;
    } else if (column > 0) {
      text += ' ';
      ++column;
    }
    text += word;
    column += word.size();
    start = end + 1;
  }
  text += '\n';
}

std::string uppercase(std::string_view text) {
  std::string upper(text);
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return upper;
}

bool selects_any(std::string_view selector) {
  return std::any_of(kRules.begin(), kRules.end(), [&](const RuleDescription& rule) {
    return selector_matches(selector, rule.code);
  });
}

// The code that differs from the selector in fewest characters, when it is
// close enough to be what was meant ("KH01" for "KH001" is not a prefix).
std::optional<std::string_view> nearest_code(std::string_view selector) {
  std::vector<std::string_view> codes;
  for (const RuleDescription& rule : kRules) codes.push_back(rule.code);
  return nearest_by_edits(selector, codes);
}

}  // namespace

std::span<const RuleDescription> rule_descriptions() { return kRules; }

const RuleDescription* find_rule(std::string_view code) {
  auto found = std::find_if(kRules.begin(), kRules.end(),
                            [&](const RuleDescription& rule) { return rule.code == code; });
  return found == kRules.end() ? nullptr : &*found;
}

const RuleDescription* find_rule_in_any_case(std::string_view code) {
  return find_rule(uppercase(code));
}

std::string explanation_text(const RuleDescription& rule) {
  std::string text;
  std::string title(rule.code);
  title += " (";
  title += rule.name;
  title += "): ";
  title += rule.summary;
  append_wrapped(text, title);
  text += '\n';
  append_wrapped(text, rule.description);
  text += "\nExample:\n\n";
  append_indented(text, rule.example);
  text += "\nFixed:\n\n";
  append_indented(text, rule.fixed_example);
  text += '\n';
  append_wrapped(text, "How to fix it: " + std::string(rule.help));
  text += '\n';
  append_wrapped(text, "Precise mode (the command's default): " + std::string(rule.precise_mode));
  return text;
}

bool selector_matches(std::string_view selector, std::string_view code) {
  return selector == kAllCodes || (!selector.empty() && code.starts_with(selector));
}

bool is_opt_in(std::string_view code) { return code == kUnusedSuppressionCode; }

bool selects_opt_in(std::string_view selector, std::string_view code) {
  return selector == kAllCodes || (selector.size() > 2 && code.starts_with(selector));
}

bool selects_unused_suppressions(const std::vector<std::string>& selectors) {
  return std::any_of(selectors.begin(), selectors.end(), [](const std::string& selector) {
    return selects_opt_in(selector, kUnusedSuppressionCode);
  });
}

std::optional<std::string> selector_problem(std::string_view selector) {
  if (selects_any(selector)) return std::nullopt;
  std::string problem = "no rule code starts with it";
  std::string upper = uppercase(selector);
  std::optional<std::string_view> suggestion;
  if (upper != selector && selects_any(upper)) {
    suggestion = upper == kAllCodes ? kAllCodes : std::string_view(upper);
  } else {
    suggestion = nearest_code(upper);
  }
  if (suggestion) {
    problem += "; did you mean '";
    problem += *suggestion;
    problem += "'?";
  } else {
    problem += " (the codes are KH001, KH002, KH003 and KH100, or ALL for every one)";
  }
  return problem;
}

}  // namespace keyhound
