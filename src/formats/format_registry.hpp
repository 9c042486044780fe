#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "formats/presentation.hpp"
#include "formats/report_format.hpp"

namespace keyhound {

// What a format may need to know when it is made: where a closing summary
// goes (standard error when the report goes to a file), and the directory
// that relative paths are taken against.
struct FormatContext {
  Stream summary_stream;
  const std::string& working_directory;
  // The run's presentation, chosen once by its mode.
  Presentation presentation = kModulePresentation;
};

// One output format: the name that --output-format and the configuration
// key `output-format` take, and how to make it. The registry's table is
// the one list of formats: the command line, the configuration and the
// help all read it, so a new format is one file and one row.
struct FormatEntry {
  std::string_view name;
  std::unique_ptr<ReportFormat> (*make)(const FormatContext& context);
};

// Every format, the default first.
std::span<const FormatEntry> output_formats();

bool is_output_format(std::string_view name);

// The format of that name (the default one for a name it does not know).
std::unique_ptr<ReportFormat> make_output_format(std::string_view name,
                                                 const FormatContext& context);

// --statistics: the counts per code instead of the findings; as JSON (an
// array, or one object a line) when `output_format` asks for it.
std::unique_ptr<ReportFormat> make_statistics_format(const FormatContext& context,
                                                     std::string_view output_format);

// The names as a list: "full, concise, json" for errors, or with
// `quoted` "\"full\", \"concise\", \"json\"".
std::string output_format_names(bool quoted = false);
// The names as help shows them: "full (default), concise or json".
const std::string& output_format_help();

}  // namespace keyhound
