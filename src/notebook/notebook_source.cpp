#include "notebook/notebook_source.hpp"

#include <nlohmann/json.hpp>

#include "base/json_nesting.hpp"

namespace keyhound {
namespace {

// The cell's source: one string, or a list of strings (its lines, each
// with its line feed but perhaps the last).
std::expected<std::string, std::string> cell_text(const nlohmann::json& source) {
  if (source.is_string()) return source.get<std::string>();
  if (!source.is_array()) return std::unexpected("a cell's source is neither text nor lines");
  std::string text;
  for (const nlohmann::json& line : source) {
    if (!line.is_string()) return std::unexpected("a cell's source holds something not text");
    text += line.get<std::string>();
  }
  return text;
}

std::string_view without_indent(std::string_view line) {
  std::size_t start = line.find_first_not_of(" \t");
  return start == std::string_view::npos ? std::string_view() : line.substr(start);
}

bool is_name_character(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}

// `x = %time f()`, `files = !ls`: names, then `=` and a magic or a shell
// escape.
bool assigns_magic(std::string_view line) {
  std::size_t at = 0;
  while (at < line.size() && (is_name_character(line[at]) || line[at] == ',' ||
                              line[at] == '.' || line[at] == ' ' || line[at] == '\t')) {
    ++at;
  }
  if (at == 0 || at >= line.size() || line[at] != '=') return false;
  if (at + 1 < line.size() && line[at + 1] == '=') return false;
  std::string_view rest = without_indent(line.substr(at + 1));
  return !rest.empty() && (rest.front() == '%' || rest.front() == '!');
}

// A line of IPython syntax rather than Python: a line magic, a shell
// escape, a help request (`?obj`, `obj?`), or one of those assigned.
bool is_ipython_line(std::string_view line) {
  std::string_view code = without_indent(line);
  while (!code.empty() && (code.back() == '\n' || code.back() == '\r')) code.remove_suffix(1);
  if (code.empty()) return false;
  if (code.front() == '%' || code.front() == '!' || code.front() == '?') return true;
  const bool plain = code.find_first_of("#'\"") == std::string_view::npos;
  if (plain && code.back() == '?') return true;
  return assigns_magic(code);
}

// The line blanked: its indentation and `pass`, which any block takes, so
// that a magic alone in a block keeps the block whole.
std::string blanked(std::string_view line) {
  std::size_t indent = line.find_first_not_of(" \t");
  if (indent == std::string_view::npos) indent = 0;
  std::string kept(line.substr(0, indent));
  kept += "pass";
  if (line.ends_with('\n')) kept += '\n';
  return kept;
}

// The cell with IPython's syntax blanked. A cell magic (`%%bash`) makes
// the whole cell something else: every line is blanked empty.
std::string python_of_cell(std::string_view text) {
  std::string out;
  const bool cell_magic = without_indent(text).starts_with("%%");
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    end = end == std::string_view::npos ? text.size() : end + 1;
    std::string_view line = text.substr(start, end - start);
    if (cell_magic) {
      // Each line stays a line, the last one too (its line feed is added
      // below for any cell), so that the cell keeps its rows.
      out += '\n';
    } else if (is_ipython_line(line)) {
      out += blanked(line);
    } else {
      out += line;
    }
    start = end;
  }
  if (!out.empty() && out.back() != '\n') out += '\n';
  return out;
}

bool is_python(const nlohmann::json& notebook) {
  const nlohmann::json* metadata = notebook.contains("metadata") ? &notebook["metadata"] : nullptr;
  if (metadata == nullptr || !metadata->is_object()) return true;
  auto language = metadata->find("language_info");
  if (language == metadata->end() || !language->is_object()) return true;
  auto name = language->find("name");
  return name == language->end() || !name->is_string() || name->get<std::string>() == "python";
}

}  // namespace

bool is_notebook_path(std::string_view path) { return path.ends_with(".ipynb"); }

std::expected<NotebookSource, std::string> notebook_source(std::string_view json) {
  // The parser recurses into each array and object.
  if (nests_deeper_than(json, kDeepestNesting)) {
    return std::unexpected("not a notebook: its JSON nests deeper than " +
                           std::to_string(kDeepestNesting) + " levels");
  }
  nlohmann::json notebook = nlohmann::json::parse(json.begin(), json.end(), nullptr, false);
  if (notebook.is_discarded()) return std::unexpected(std::string("not a notebook: invalid JSON"));
  if (!notebook.is_object() || !notebook.contains("cells") || !notebook["cells"].is_array()) {
    return std::unexpected(std::string("not a notebook: no list of cells"));
  }
  NotebookSource source;
  if (!is_python(notebook)) return source;
  uint32_t row = 0;
  uint32_t number = 0;
  for (const nlohmann::json& cell : notebook["cells"]) {
    ++number;
    if (!cell.is_object()) return std::unexpected(std::string("not a notebook: a cell is no object"));
    auto type = cell.find("cell_type");
    if (type == cell.end() || *type != "code") continue;
    auto text = cell.contains("source") ? cell_text(cell["source"]) : std::string();
    if (!text) return std::unexpected("not a notebook: " + text.error());
    std::string python = python_of_cell(*text);
    if (python.empty()) continue;
    source.cells.push_back(NotebookCell{row, number});
    for (char c : python) row += c == '\n';
    source.text += python;
  }
  return source;
}

}  // namespace keyhound
