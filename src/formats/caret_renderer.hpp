#pragma once

#include <string_view>

#include "analysis/findings.hpp"
#include "output/line_writer.hpp"
#include "formats/report_format.hpp"
#include "output/stylesheet.hpp"

namespace keyhound {

// The default report: compiler-style diagnostics with a source excerpt and a
// caret line. Findings and excerpts go to standard output, summaries and
// the outcome of a file with findings to standard error; each line is
// built in one buffer and handed to the writer whole.

// How wide the carets of a node that ends on a later row are: from its
// start to its end column, as the module draws them, or (precise mode) to
// the end of the row shown, so that a deeply nested node spanning many rows
// cannot blow every finding up to the width of its last row.
enum class CaretSpan { ToEndColumn, WithinRowShown };

void print_access_warning(LineWriter& out, const Stylesheet& styles, std::string_view path,
                          const AccessFinding& finding,
                          CaretSpan span = CaretSpan::ToEndColumn);
void print_call_warning(LineWriter& out, const Stylesheet& styles, std::string_view path,
                        const CallFinding& finding, CaretSpan span = CaretSpan::ToEndColumn);
// A file that could not be parsed completely (precise mode).
void print_syntax_error(LineWriter& out, const Stylesheet& styles, std::string_view path,
                        const SyntaxErrorFinding& finding,
                        CaretSpan span = CaretSpan::ToEndColumn);
// The four excerpt lines: gutter number, source line, caret line, blank.
void print_source_snippet(LineWriter& out, const Stylesheet& styles, Position start,
                          Position end, std::string_view source_line,
                          CaretSpan span = CaretSpan::ToEndColumn);
// "Potential issue(s) in function '{function}': Warnings found in '{function}'"
// on standard error, never coloured.
void print_function_summary(LineWriter& out, std::string_view function);
// "No issues found in '{path}'" (standard output), "Analyzing file
// '{path}': {message}" or "Error reading file '{path}': {message}"
// (standard error).
void print_file_outcome(LineWriter& out, std::string_view path, const FileOutcome& outcome);

// Renders whole file reports. Without a stylesheet of its own it uses the
// process's colour decision, taken when the first finding is shown, so that
// a run without findings never reads the environment for it.
class CaretRenderer final : public ReportFormat {
 public:
  CaretRenderer() = default;
  explicit CaretRenderer(const Stylesheet& styles) : styles_(&styles) {}

  void render(const FileReport& report, LineWriter& out) const override;

 private:
  const Stylesheet& styles() const;
  const Stylesheet* styles_ = nullptr;
};

}  // namespace keyhound
