#include "formats/format_choice.hpp"

#include <algorithm>

#include "formats/caret_renderer.hpp"
#include "formats/concise_format.hpp"
#include "formats/github_format.hpp"
#include "formats/json_format.hpp"
#include "formats/sarif_format.hpp"

namespace keyhound {

bool is_output_format(std::string_view name) {
  return std::find(kOutputFormats.begin(), kOutputFormats.end(), name) != kOutputFormats.end();
}

std::unique_ptr<ReportFormat> make_output_format(std::string_view name, Stream summary_stream,
                                                 const std::string& working_directory) {
  if (name == "concise") return std::make_unique<ConciseFormat>(summary_stream);
  if (name == "json") return std::make_unique<JsonFormat>();
  if (name == "json-lines") return std::make_unique<JsonLinesFormat>();
  if (name == "sarif") return std::make_unique<SarifFormat>(working_directory);
  if (name == "github") return std::make_unique<GithubFormat>();
  return std::make_unique<CaretRenderer>();
}

}  // namespace keyhound
