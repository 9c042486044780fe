// Notebooks from arbitrary bytes. An input whose first byte is odd is a
// notebook's JSON as it comes: it must be read or refused, never crash.
// Otherwise the rest is the source of a code cell between a markdown cell
// and a second code cell: IPython's syntax is blanked line by line, so the
// cell must keep its number of lines and the next cell start right after
// it; the analysis of the whole must place every finding in a code cell.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "analysis/analyze_file.hpp"
#include "notebook/notebook_source.hpp"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

uint32_t lines_of(std::string_view text) {
  uint32_t lines = 0;
  for (char c : text) lines += c == '\n';
  if (!text.empty() && text.back() != '\n') ++lines;
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  if ((data[0] & 1) != 0) {
    static_cast<void>(keyhound::notebook_source(rest));
    return 0;
  }
  // The JSON writer keeps to UTF-8: bytes that are none become U+FFFD.
  const std::string cell =
      nlohmann::json(std::string(rest)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  const std::string source = nlohmann::json::parse(cell).get<std::string>();
  const std::string notebook =
      "{\"cells\": [{\"cell_type\": \"markdown\", \"source\": \"# d['x']\"}, "
      "{\"cell_type\": \"code\", \"source\": " + cell + "}, "
      "{\"cell_type\": \"code\", \"source\": [\"d = {}\\n\", \"d['k']\\n\"]}], "
      "\"metadata\": {}, \"nbformat\": 4}";
  auto read = keyhound::notebook_source(notebook);
  require(read.has_value());
  const uint32_t lines = lines_of(source);
  require(read->cells.size() == (lines > 0 ? 2u : 1u));
  require(read->cells.back().number == 3 && read->cells.back().first_row == lines);
  require(lines_of(read->text) == lines + 2);
  keyhound::FileReport report = keyhound::analyze_file(
      "nb.ipynb", read->text, keyhound::AnalysisOptions{.honour_suppressions = true, .precise = true});
  report.cells = read->cells;
  for (const keyhound::Finding& finding : report.findings) {
    const auto* access = std::get_if<keyhound::AccessFinding>(&finding);
    if (access == nullptr) continue;
    const keyhound::ShownRow shown = keyhound::shown_row(report.cells, access->start.row);
    require(shown.cell == 2 || shown.cell == 3);
    require(shown.row >= 1);
  }
  return 0;
}
