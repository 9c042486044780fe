#include "analysis/report.hpp"

#include <charconv>

#include "analysis/color.hpp"
#include "analysis/output.hpp"
#include "analysis/source_lines.hpp"

namespace keyhound {
namespace {

// Colours by role, named once.
const Paint kWarningLabelPaint{NamedColor::Yellow, std::nullopt, Style{Style::kBold}};
const Paint kGutterPaint{NamedColor::Blue, std::nullopt, Style{}};
const Paint kCaretPaint{NamedColor::BrightRed, std::nullopt, Style{}};

constexpr std::string_view kWarningLabel = "Warning:";

bool process_colorize() { return SHOULD_COLORIZE.get().should_colorize(); }

void append_number(std::string& line, uint64_t number) {
  char digits[24];
  auto result = std::to_chars(digits, digits + sizeof digits, number);
  line.append(digits, result.ptr);
}

// "{path}:{line}:{column}: {label} "
void append_header_start(std::string& line, std::string_view path, Position start,
                         bool colorize) {
  line += path;
  line += ':';
  append_number(line, uint64_t{start.row} + 1);
  line += ':';
  append_number(line, uint64_t{start.byte_column} + 1);
  line += ": ";
  append_painted(line, kWarningLabel, kWarningLabelPaint, colorize);
  line += ' ';
}

// A control byte written raw could move the cursor or rewrite the screen:
// show it as its control picture instead, which takes one column as the byte
// did. Tabs stay as they are.
void append_source_text(std::string& line, std::string_view text) {
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (byte == '\t' || (byte >= 0x20 && byte != 0x7F)) {
      line += c;
      continue;
    }
    char32_t picture = byte == 0x7F ? U'\u2421' : U'\u2400' + byte;
    // Every picture lies in U+2400..U+2421: three bytes of UTF-8.
    line += static_cast<char>(0xE0 | (picture >> 12));
    line += static_cast<char>(0x80 | ((picture >> 6) & 0x3F));
    line += static_cast<char>(0x80 | (picture & 0x3F));
  }
}

}  // namespace

void print_access_warning(std::string_view path, std::string_view function, Position start,
                          Position end, const std::vector<std::string_view>& lines,
                          bool colorize) {
  std::string line;
  append_header_start(line, path, start, colorize);
  line += "Possible KeyError in function '";
  line += function;
  line += "'\n";
  write_line(Stream::Stdout, line);
  print_source_snippet(start, end, lines, colorize);
}

void print_access_warning(std::string_view path, std::string_view function, Position start,
                          Position end, const std::vector<std::string_view>& lines) {
  print_access_warning(path, function, start, end, lines, process_colorize());
}

void print_call_warning(std::string_view path, std::string_view function,
                        std::string_view callee,
                        const std::unordered_set<std::string>& exceptions, Position start,
                        Position end, const std::vector<std::string_view>& lines,
                        bool colorize) {
  std::string line;
  append_header_start(line, path, start, colorize);
  line += "Possible ";
  bool first = true;
  for (const std::string& name : exceptions) {
    if (!first) line += ", ";
    line += name;
    first = false;
  }
  line += " not handled when calling '";
  line += callee;
  line += "' in function '";
  line += function;
  line += "'\n";
  write_line(Stream::Stdout, line);
  print_source_snippet(start, end, lines, colorize);
}

void print_call_warning(std::string_view path, std::string_view function,
                        std::string_view callee,
                        const std::unordered_set<std::string>& exceptions, Position start,
                        Position end, const std::vector<std::string_view>& lines) {
  print_call_warning(path, function, callee, exceptions, start, end, lines,
                     process_colorize());
}

void print_source_snippet(Position start, Position end,
                          const std::vector<std::string_view>& lines, bool colorize) {
  char digits[24];
  auto converted = std::to_chars(digits, digits + sizeof digits, uint64_t{start.row} + 1);
  std::string_view number(digits, static_cast<std::size_t>(converted.ptr - digits));
  std::string_view source = line_at(lines, start.row);
  // Only the first row is shown, but the width comes from the end column
  // even when the node ends on a later row; at least one caret is drawn.
  std::size_t carets =
      end.byte_column > start.byte_column ? end.byte_column - start.byte_column : 1;

  std::string line;
  line.reserve(16 + source.size() * 3 + start.byte_column + carets);
  append_painted(line, number, kGutterPaint, colorize);
  line += "|\n";
  write_line(Stream::Stdout, line);

  line.clear();
  begin_painted(line, kGutterPaint, colorize);
  line.append(number.size(), ' ');
  end_painted(line, kGutterPaint, colorize);
  line += "| ";
  append_source_text(line, source);
  line += '\n';
  write_line(Stream::Stdout, line);

  line.clear();
  begin_painted(line, kGutterPaint, colorize);
  line.append(number.size(), ' ');
  end_painted(line, kGutterPaint, colorize);
  line += "| ";
  begin_painted(line, kCaretPaint, colorize);
  line.append(start.byte_column, ' ');
  line.append(carets, '^');
  end_painted(line, kCaretPaint, colorize);
  line += '\n';
  write_line(Stream::Stdout, line);

  write_line(Stream::Stdout, "\n");
}

std::string function_warnings_message(std::string_view function) {
  return "Warnings found in '" + std::string(function) + "'";
}

std::string file_issues_message(std::string_view path) {
  return "Potential issue(s) found in '" + std::string(path) + "'";
}

void print_function_summary(std::string_view function) {
  // The text after ": " is function_warnings_message(function), built in
  // place so that the line is the one allocation.
  std::string line = "Potential issue(s) in function '";
  line += function;
  line += "': Warnings found in '";
  line += function;
  line += "'\n";
  write_line(Stream::Stderr, line);
}

}  // namespace keyhound
