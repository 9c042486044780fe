#include "formats/caret_renderer.hpp"

#include <charconv>
#include <string>

#include "analysis/finding_identity.hpp"
#include "output/color.hpp"
#include "output/display_width.hpp"
#include "output/terminal_text.hpp"

namespace keyhound {
namespace {

constexpr std::string_view kWarningLabel = "Warning:";
// The widest excerpt the readable way shows: a longer line is shown as a
// window around the lookup, so that a line of thousands of lookups does
// not come out once per lookup. The module's way prints the line whole.
constexpr std::size_t kExcerptWidth = 120;

void append_number(std::string& line, uint64_t number) {
  char digits[24];
  auto result = std::to_chars(digits, digits + sizeof digits, number);
  line.append(digits, result.ptr);
}

// "{path}:{line}:{column}: {label} {message}", then the excerpt. The
// module's label is "Warning:"; the readable way shows the rule's code
// there, which is what `# noqa:` and --explain take.
void print_warning(LineWriter& out, const Stylesheet& styles, const ShownPath& path,
                   Position start, Position end, std::string_view code, std::string_view message,
                   std::string_view source_line, ExcerptStyle style, bool snippet = true) {
  std::string line;
  append_terminal_safe_name(line, path.path);
  const ShownRow shown = shown_row(path.cells, start.row);
  if (shown.cell != 0) {
    line += ":cell ";
    append_number(line, shown.cell);
  }
  line += ':';
  append_number(line, shown.row);
  line += ':';
  append_number(line, uint64_t{style == ExcerptStyle::Readable ? start.code_point_column
                                                               : start.byte_column} + 1);
  line += ": ";
  append_styled(line, style == ExcerptStyle::Readable ? code : kWarningLabel,
                styles.warning_label);
  line += ' ';
  // A readable message quotes source text, which may hold anything.
  if (style == ExcerptStyle::Readable) {
    append_terminal_safe_name(line, message);
  } else {
    line += message;
  }
  line += '\n';
  out.write_line(Stream::Stdout, line);
  if (snippet) print_source_snippet(out, styles, start, end, source_line, style, path.cells);
}

void append_gutter_blank(std::string& line, const Stylesheet& styles, std::size_t width) {
  append_styled(line, std::string(width, ' '), styles.gutter);
  line += "| ";
}

// The excerpt line as shown, the column of the first caret and how many.
struct CaretPlacement {
  std::string shown;
  std::size_t indent = 0;
  std::size_t carets = 1;
};

CaretPlacement module_placement(Position start, Position end, std::string_view source_line) {
  CaretPlacement placed;
  append_terminal_safe_source(placed.shown, source_line);
  placed.indent = start.byte_column;
  // Only the first row is shown, but the width comes from the end column
  // even when the node ends on a later row.
  if (end.byte_column > start.byte_column) placed.carets = end.byte_column - start.byte_column;
  return placed;
}

CaretPlacement readable_placement(Position start, Position end, std::string_view source_line) {
  const bool one_row = end.row == start.row;
  LaidOutLine laid = lay_out_window(source_line, start.byte_column,
                                    one_row ? end.byte_column : source_line.size(),
                                    kExcerptWidth);
  CaretPlacement placed;
  placed.shown = std::move(laid.text);
  placed.indent = laid.start_column;
  if (laid.end_column > laid.start_column) placed.carets = laid.end_column - laid.start_column;
  return placed;
}

}  // namespace

namespace {

// The code as the readable head shows it, with precise mode's tier:
// "KH001 [high]".
std::string ranked_code(std::string_view code, const std::optional<Risk>& risk) {
  std::string shown(code);
  if (risk) {
    shown += " [";
    shown += confidence_name(risk->confidence);
    shown += ']';
  }
  return shown;
}

}  // namespace

void print_access_warning(LineWriter& out, const Stylesheet& styles, const ShownPath& path,
                          const AccessFinding& finding, ExcerptStyle style) {
  if (style == ExcerptStyle::Readable && finding.key_start) {
    // A lookup over several rows: the header names where it starts, the
    // excerpt shows the row of its key.
    print_warning(out, styles, path, finding.start, finding.end,
                  ranked_code(kAccessCode, finding.risk), readable_message(finding),
                  std::string_view(), style, /*snippet=*/false);
    print_source_snippet(out, styles, *finding.key_start, finding.end,
                         excerpt_of(finding.key_line), style, path.cells);
    return;
  }
  std::string message = style == ExcerptStyle::Readable ? readable_message(finding)
                                                        : message_of(finding);
  print_warning(out, styles, path, finding.start, finding.end,
                ranked_code(kAccessCode, finding.risk), message, excerpt_of(finding.source_line),
                style);
}

void print_call_warning(LineWriter& out, const Stylesheet& styles, const ShownPath& path,
                        const CallFinding& finding, ExcerptStyle style) {
  std::string message = style == ExcerptStyle::Readable ? readable_message(finding, path)
                                                        : message_of(finding);
  print_warning(out, styles, path, finding.start, finding.end,
                ranked_code(kCallCode, finding.risk), message, excerpt_of(finding.source_line),
                style);
}

void print_syntax_error(LineWriter& out, const Stylesheet& styles, const ShownPath& path,
                        const SyntaxErrorFinding& finding, ExcerptStyle style) {
  print_warning(out, styles, path, finding.start, finding.end, kSyntaxCode, message_of(finding),
                excerpt_of(finding.source_line), style);
}

void print_source_snippet(LineWriter& out, const Stylesheet& styles, Position start,
                          Position end, std::string_view source_line, ExcerptStyle style,
                          std::span<const NotebookCell> cells) {
  char digits[24];
  auto converted = std::to_chars(digits, digits + sizeof digits, shown_row(cells, start.row).row);
  std::string_view number(digits, static_cast<std::size_t>(converted.ptr - digits));
  CaretPlacement placed = style == ExcerptStyle::Readable
                              ? readable_placement(start, end, source_line)
                              : module_placement(start, end, source_line);

  std::string line;
  append_styled(line, number, styles.gutter);
  line += "|\n";
  out.write_line(Stream::Stdout, line);

  line.clear();
  line.reserve(16 + placed.shown.size());
  append_gutter_blank(line, styles, number.size());
  line += placed.shown;
  line += '\n';
  out.write_line(Stream::Stdout, line);

  line.clear();
  append_gutter_blank(line, styles, number.size());
  std::string caret_line(placed.indent, ' ');
  caret_line.append(placed.carets, '^');
  append_styled(line, caret_line, styles.caret);
  line += '\n';
  out.write_line(Stream::Stdout, line);

  out.write_line(Stream::Stdout, "\n");
}

void print_function_summary(LineWriter& out, std::string_view function) {
  std::string line = "Potential issue(s) in function '";
  line += function;
  line += "': ";
  line += function_warnings_message(function);
  line += '\n';
  out.write_line(Stream::Stderr, line);
}

void print_file_outcome(LineWriter& out, std::string_view path, const FileOutcome& outcome) {
  std::string line;
  Stream stream = Stream::Stderr;
  switch (outcome.status) {
    case FileStatus::Clean:
      line = "No issues found in '";
      append_terminal_safe_name(line, path);
      line += "'\n";
      stream = Stream::Stdout;
      break;
    case FileStatus::HasFindings:
      line = "Analyzing file '";
      append_terminal_safe_name(line, path);
      line += "': ";
      append_terminal_safe_name(line, outcome.message);
      line += '\n';
      break;
    case FileStatus::ReadError:
      line = "Error reading file '";
      append_terminal_safe_name(line, path);
      line += "': ";
      line += outcome.message;
      line += '\n';
      break;
  }
  out.write_line(stream, line);
}

const Stylesheet& CaretRenderer::styles() const {
  if (styles_ != nullptr) return *styles_;
  return SHOULD_COLORIZE.get().should_colorize() ? Stylesheet::styled() : Stylesheet::plain();
}

void CaretRenderer::render(const FileReport& report, LineWriter& out) const {
  struct Visitor {
    const CaretRenderer& renderer;
    const FileReport& report;
    LineWriter& out;
    ExcerptStyle style() const { return renderer.presentation_.style; }
    ShownPath path() const { return ShownPath(report.path, report.cells); }
    void operator()(const AccessFinding& finding) const {
      if (!report.shows(finding)) return;
      print_access_warning(out, renderer.styles(), path(), finding, style());
    }
    void operator()(const SyntaxErrorFinding& finding) const {
      print_syntax_error(out, renderer.styles(), path(), finding, style());
    }
    void operator()(const UnusedSuppressionFinding& finding) const {
      print_warning(out, renderer.styles(), path(), finding.start, finding.end,
                    kUnusedSuppressionCode, message_of(finding), excerpt_of(finding.source_line),
                    style());
    }
    void operator()(const CallFinding& finding) const {
      print_call_warning(out, renderer.styles(), path(), finding, style());
    }
    void operator()(const FunctionSummary& summary) const {
      if (renderer.presentation_.function_and_file_lines) {
        print_function_summary(out, summary.function);
      }
    }
  };
  for (const Finding& finding : report.findings) std::visit(Visitor{*this, report, out}, finding);
  if (presentation_.function_and_file_lines || report.outcome.status == FileStatus::ReadError) {
    print_file_outcome(out, report.path, report.outcome);
  }
}

void CaretRenderer::finish(const RunSummary& summary, std::span<const std::string>,
                           LineWriter& out) const {
  if (presentation_.run_total && summary_stream_) {
    print_run_summary(out, *summary_stream_, summary);
  }
}

}  // namespace keyhound
