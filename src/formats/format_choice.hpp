#pragma once

#include <array>
#include <memory>
#include <string>
#include <string_view>

#include "formats/report_format.hpp"

namespace keyhound {

// The names --output-format takes, the default first.
inline constexpr std::array<std::string_view, 6> kOutputFormats = {
    "full", "concise", "json", "json-lines", "sarif", "github"};

bool is_output_format(std::string_view name);

// The format of that name. `summary_stream` is where a closing summary
// goes (standard error when the report goes to a file).
std::unique_ptr<ReportFormat> make_output_format(std::string_view name, Stream summary_stream,
                                                 const std::string& working_directory);

}  // namespace keyhound
