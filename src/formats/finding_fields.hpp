#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/findings.hpp"
#include "formats/presentation.hpp"

namespace keyhound {

// An access or call finding as the machine-readable formats show it.
struct FindingFields {
  std::string_view code;
  std::string message;
  std::string_view function;
  Position start;
  Position end;
  std::string_view source_text;
  // The node's text as the readable message quotes it.
  std::string_view display_text;
  // Set for a call finding.
  const CallFinding* call = nullptr;
  uint32_t comment_row = 0;
  const Finding* finding = nullptr;
  // Precise mode's confidence and reason, for a lookup or call finding.
  const Risk* risk = nullptr;

  // A notebook's code cells; the lines below are then those of the cell.
  std::span<const NotebookCell> cells = {};

  // 1-based line and code-point column; the end column is the one after
  // the node's last character.
  uint64_t line() const { return shown_row(cells, start.row).row; }
  uint64_t column() const { return uint64_t{start.code_point_column} + 1; }
  uint64_t end_line() const { return shown_row(cells, end.row).row; }
  uint64_t end_column() const { return uint64_t{end.code_point_column} + 1; }
  // The line where a suppression comment for the finding belongs: the last
  // line of the logical line its node ends on.
  uint64_t noqa_line() const { return shown_row(cells, comment_row).row; }
  // The notebook cell that holds the finding (1-based), or 0.
  uint32_t cell() const { return shown_row(cells, start.row).cell; }
};

// Every access and call finding of the report, in report order, with the
// messages of `presentation`.
std::vector<FindingFields> finding_fields(const FileReport& report,
                                          const Presentation& presentation);

// A stable 64-bit hash of `text` in hexadecimal (FNV-1a), the same on every
// machine.
std::string stable_hash(std::string_view text);

}  // namespace keyhound
