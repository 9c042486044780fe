#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "rules/risk.hpp"
#include "syntax/module_entry.hpp"
#include "syntax/position.hpp"

namespace keyhound {

// The findings of one file as plain data: what the analysis found, with
// everything a renderer needs to show it, and nothing about how it looks.

// A source line as the excerpt shows it, without its line end. Findings on
// one line share it: a long line with thousands of lookups is kept once.
using SourceLine = std::shared_ptr<const std::string>;

inline SourceLine make_source_line(std::string_view text) {
  return std::make_shared<const std::string>(text);
}

inline std::string_view excerpt_of(const SourceLine& line) {
  return line ? std::string_view(*line) : std::string_view();
}

// The rule codes, as every format but the default one shows them.
inline constexpr std::string_view kAccessCode = "KH001";
inline constexpr std::string_view kCallCode = "KH002";
inline constexpr std::string_view kSyntaxCode = "KH003";
inline constexpr std::string_view kUnusedSuppressionCode = "KH100";
// The longest token text a finding keeps.
inline constexpr std::size_t kLongestSourceText = 200;
// The most characters of a node's text that a message quotes.
inline constexpr std::size_t kMostShownCharacters = 60;
inline constexpr std::string_view kSyntaxErrorMessage =
    "Syntax error: the file could not be parsed completely";

// An unguarded subscript.
struct AccessFinding {
  // The function table key under which it is reported.
  std::string function;
  Position start;
  Position end;
  // The source line of the start row (the excerpt).
  SourceLine source_line;
  // The node's tokens without the white space and comments between them
  // (cut to a bounded length): what identifies the finding across edits
  // that move or reformat it.
  std::string source_text;
  // The node's text as a message quotes it: one line, cut short.
  std::string display_text = {};
  // The 0-based row where a suppression comment for it belongs: the last
  // row of the logical line its node ends on.
  uint32_t comment_row = 0;
  // For a lookup whose key's bracket stands on a later row than its start
  // (`f(\n  x,\n)["k"]`): where that bracket is, and its row, which the
  // readable excerpt shows, so that the key is in view.
  std::optional<Position> key_start = {};
  SourceLine key_line = {};
  // Precise mode: how likely the key is to be missing, and why.
  std::optional<Risk> risk = {};

  // A lookup outside every function, recorded under "<module>": it makes
  // the file fail, but the default report shows it nowhere, since the
  // module entry would repeat every finding of the file.
  bool at_module_level() const { return function == kModuleEntryName; }
};

// Where a KeyError that a call lets escape comes from: a lookup of the file.
struct Origin {
  Position position;
  // The lookup's text as a message quotes it.
  std::string display_text = {};
};

// An unguarded call of a same-file function that may let an exception escape.
struct CallFinding {
  std::string function;
  // The callee exactly as written at the call.
  std::string callee;
  // The callee's exception names, in the order they are shown.
  std::vector<std::string> exceptions;
  Position start;
  Position end;
  SourceLine source_line;
  std::string source_text;
  std::string display_text = {};
  std::optional<Origin> origin = {};
  uint32_t comment_row = 0;
  // Precise mode: from the risk of the lookup the KeyError comes from.
  std::optional<Risk> risk = {};
};

// A file the parser could not read completely (precise mode): where it met
// the first syntax error.
struct SyntaxErrorFinding {
  Position start;
  Position end;
  SourceLine source_line;
  uint32_t comment_row = 0;
};

// A suppression comment that suppressed nothing in this run (precise mode,
// when KH100 is selected): where the comment stands.
struct UnusedSuppressionFinding {
  Position start;
  Position end;
  SourceLine source_line;
  uint32_t comment_row = 0;
  // The codes it names that suppressed nothing; none for a bare
  // `# keyhound: ignore`.
  std::vector<std::string> codes;
};

// Closes the findings of one function that had any.
struct FunctionSummary {
  std::string function;
};

// One record of a file's report, in the order the report shows them: per
// function, its access findings, its call findings, then its summary.
using Finding = std::variant<AccessFinding, CallFinding, FunctionSummary, SyntaxErrorFinding,
                             UnusedSuppressionFinding>;

enum class FileStatus { Clean, HasFindings, ReadError };

// How a file ended: clean, with findings, or unreadable (with the reason
// shown after "Error reading file '{path}': ").
struct FileOutcome {
  FileStatus status = FileStatus::Clean;
  std::string message;
};

// A code cell of a notebook, whose cells are analysed as one module in
// order: the row of the module where it starts, and its number among the
// notebook's cells (1-based, markdown cells counted).
struct NotebookCell {
  uint32_t first_row = 0;
  uint32_t number = 0;
};

// Where a row of the analysed text is shown: in a notebook, its cell and
// the row within it; else the row itself. Both 1-based; cell 0 is none.
struct ShownRow {
  uint32_t cell = 0;
  uint64_t row = 0;
};
ShownRow shown_row(std::span<const NotebookCell> cells, uint32_t row);

// A file as reports name it: its path, and for a notebook its cells.
struct ShownPath {
  ShownPath(std::string_view path, std::span<const NotebookCell> cells = {})
      : path(path), cells(cells) {}
  ShownPath(const char* path) : path(path) {}
  ShownPath(const std::string& path) : path(path) {}
  std::string_view path;
  std::span<const NotebookCell> cells;
};

// "app.py:3:5", or in a notebook "nb.ipynb:cell 2:1:5": where a row and a
// 0-based column are shown.
std::string shown_location(const ShownPath& path, uint32_t row, uint64_t column);

// Everything keyhound has to say about one file.
struct FileReport {
  std::string path;
  std::vector<Finding> findings;
  FileOutcome outcome;
  // Made in precise mode, where lookups at module level are shown too.
  bool precise = false;
  // A notebook's code cells, in order; none for a Python file.
  std::vector<NotebookCell> cells = {};

  // Whether the reports show this access finding.
  bool shows(const AccessFinding& access) const { return precise || !access.at_module_level(); }
};

}  // namespace keyhound

namespace keyhound {

// The message of the error a function with findings produces.
inline std::string function_warnings_message(std::string_view function) {
  std::string message = "Warnings found in '";
  message += function;
  message += '\'';
  return message;
}

// The message a file with findings ends with.
inline std::string file_issues_message(std::string_view path) {
  std::string message = "Potential issue(s) found in '";
  message += path;
  message += '\'';
  return message;
}

}  // namespace keyhound
