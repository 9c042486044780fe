#pragma once

#include <optional>
#include <string_view>

#include "analysis/findings.hpp"
#include "output/line_writer.hpp"
#include "formats/presentation.hpp"
#include "formats/report_format.hpp"
#include "output/stylesheet.hpp"

namespace keyhound {

// The default report: compiler-style diagnostics with a source excerpt and a
// caret line. Findings and excerpts go to standard output, summaries and
// the outcome of a file with findings to standard error; each line is
// built in one buffer and handed to the writer whole.


void print_access_warning(LineWriter& out, const Stylesheet& styles, const ShownPath& path,
                          const AccessFinding& finding,
                          ExcerptStyle style = ExcerptStyle::Module);
void print_call_warning(LineWriter& out, const Stylesheet& styles, const ShownPath& path,
                        const CallFinding& finding, ExcerptStyle style = ExcerptStyle::Module);
// A file that could not be parsed completely (precise mode).
void print_syntax_error(LineWriter& out, const Stylesheet& styles, const ShownPath& path,
                        const SyntaxErrorFinding& finding,
                        ExcerptStyle style = ExcerptStyle::Module);
// The four excerpt lines: gutter number, source line, caret line, blank.
// In a notebook the gutter numbers the rows of the cell.
void print_source_snippet(LineWriter& out, const Stylesheet& styles, Position start,
                          Position end, std::string_view source_line,
                          ExcerptStyle style = ExcerptStyle::Module,
                          std::span<const NotebookCell> cells = {});
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
//
// A precise report is shown the readable way, and only its findings and a
// file that could not be read: no line for a clean file, no summaries of
// functions or files. Made with a summary stream, the renderer closes the
// run with its total there.
class CaretRenderer final : public ReportFormat {
 public:
  // The module's report, as `import keyhound` prints it.
  CaretRenderer() = default;
  explicit CaretRenderer(const Stylesheet& styles) : styles_(&styles) {}
  // The total, when the presentation has one, goes to `summary_stream`.
  CaretRenderer(const Presentation& presentation, Stream summary_stream)
      : presentation_(presentation), summary_stream_(summary_stream) {}

  void render(const FileReport& report, LineWriter& out) const override;
  void finish(const RunSummary& summary, std::span<const std::string> records,
              LineWriter& out) const override;

 private:
  const Stylesheet& styles() const;
  const Stylesheet* styles_ = nullptr;
  Presentation presentation_ = kModulePresentation;
  std::optional<Stream> summary_stream_;
};

}  // namespace keyhound
