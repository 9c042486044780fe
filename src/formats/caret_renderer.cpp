#include "formats/caret_renderer.hpp"

#include <charconv>
#include <string>

#include "analysis/finding_identity.hpp"
#include "output/color.hpp"
#include "output/terminal_text.hpp"

namespace keyhound {
namespace {

constexpr std::string_view kWarningLabel = "Warning:";

void append_number(std::string& line, uint64_t number) {
  char digits[24];
  auto result = std::to_chars(digits, digits + sizeof digits, number);
  line.append(digits, result.ptr);
}

// "{path}:{line}:{column}: {label} "
void append_header_start(std::string& line, const Stylesheet& styles, std::string_view path,
                         Position start) {
  append_terminal_safe_name(line, path);
  line += ':';
  append_number(line, uint64_t{start.row} + 1);
  line += ':';
  append_number(line, uint64_t{start.byte_column} + 1);
  line += ": ";
  append_styled(line, kWarningLabel, styles.warning_label);
  line += ' ';
}

void append_gutter_blank(std::string& line, const Stylesheet& styles, std::size_t width) {
  append_styled(line, std::string(width, ' '), styles.gutter);
  line += "| ";
}

}  // namespace

void print_access_warning(LineWriter& out, const Stylesheet& styles, std::string_view path,
                          const AccessFinding& finding, CaretSpan span) {
  std::string line;
  append_header_start(line, styles, path, finding.start);
  line += message_of(finding);
  line += '\n';
  out.write_line(Stream::Stdout, line);
  print_source_snippet(out, styles, finding.start, finding.end, excerpt_of(finding.source_line),
                       span);
}

void print_call_warning(LineWriter& out, const Stylesheet& styles, std::string_view path,
                        const CallFinding& finding, CaretSpan span) {
  std::string line;
  append_header_start(line, styles, path, finding.start);
  line += message_of(finding);
  line += '\n';
  out.write_line(Stream::Stdout, line);
  print_source_snippet(out, styles, finding.start, finding.end, excerpt_of(finding.source_line),
                       span);
}

void print_syntax_error(LineWriter& out, const Stylesheet& styles, std::string_view path,
                        const SyntaxErrorFinding& finding, CaretSpan span) {
  std::string line;
  append_header_start(line, styles, path, finding.start);
  line += message_of(finding);
  line += '\n';
  out.write_line(Stream::Stdout, line);
  print_source_snippet(out, styles, finding.start, finding.end, excerpt_of(finding.source_line),
                       span);
}

void print_source_snippet(LineWriter& out, const Stylesheet& styles, Position start,
                          Position end, std::string_view source_line, CaretSpan span) {
  char digits[24];
  auto converted = std::to_chars(digits, digits + sizeof digits, uint64_t{start.row} + 1);
  std::string_view number(digits, static_cast<std::size_t>(converted.ptr - digits));
  // Only the first row is shown, but the width comes from the end column
  // even when the node ends on a later row; at least one caret is drawn.
  std::size_t carets =
      end.byte_column > start.byte_column ? end.byte_column - start.byte_column : 1;
  if (span == CaretSpan::WithinRowShown && end.row > start.row) {
    carets = source_line.size() > start.byte_column ? source_line.size() - start.byte_column : 1;
  }

  std::string line;
  append_styled(line, number, styles.gutter);
  line += "|\n";
  out.write_line(Stream::Stdout, line);

  line.clear();
  line.reserve(16 + source_line.size() * 3);
  append_gutter_blank(line, styles, number.size());
  append_terminal_safe_source(line, source_line);
  line += '\n';
  out.write_line(Stream::Stdout, line);

  line.clear();
  append_gutter_blank(line, styles, number.size());
  std::string caret_line(start.byte_column, ' ');
  caret_line.append(carets, '^');
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
    CaretSpan span() const {
      return report.precise ? CaretSpan::WithinRowShown : CaretSpan::ToEndColumn;
    }
    void operator()(const AccessFinding& finding) const {
      if (!report.shows(finding)) return;
      print_access_warning(out, renderer.styles(), report.path, finding, span());
    }
    void operator()(const SyntaxErrorFinding& finding) const {
      print_syntax_error(out, renderer.styles(), report.path, finding, span());
    }
    void operator()(const CallFinding& finding) const {
      print_call_warning(out, renderer.styles(), report.path, finding, span());
    }
    void operator()(const FunctionSummary& summary) const {
      print_function_summary(out, summary.function);
    }
  };
  for (const Finding& finding : report.findings) std::visit(Visitor{*this, report, out}, finding);
  print_file_outcome(out, report.path, report.outcome);
}

}  // namespace keyhound
