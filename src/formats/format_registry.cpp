#include "formats/format_registry.hpp"

#include <algorithm>
#include <array>

#include "formats/caret_renderer.hpp"
#include "formats/concise_format.hpp"
#include "formats/github_format.hpp"
#include "formats/json_format.hpp"
#include "formats/sarif_format.hpp"
#include "formats/statistics_format.hpp"

namespace keyhound {
namespace {

template <class Format>
std::unique_ptr<ReportFormat> presented(const FormatContext& context) {
  return std::make_unique<Format>(context.presentation);
}

const std::array kFormats = {
    FormatEntry{"full",
                [](const FormatContext& context) -> std::unique_ptr<ReportFormat> {
                  return std::make_unique<CaretRenderer>(context.presentation,
                                                         context.summary_stream);
                }},
    FormatEntry{"concise",
                [](const FormatContext& context) -> std::unique_ptr<ReportFormat> {
                  return std::make_unique<ConciseFormat>(context.presentation,
                                                         context.summary_stream);
                }},
    FormatEntry{"json", presented<JsonFormat>},
    FormatEntry{"json-lines", presented<JsonLinesFormat>},
    FormatEntry{"sarif",
                [](const FormatContext& context) -> std::unique_ptr<ReportFormat> {
                  return std::make_unique<SarifFormat>(context.working_directory,
                                                       context.presentation);
                }},
    FormatEntry{"github",
                [](const FormatContext& context) -> std::unique_ptr<ReportFormat> {
                  return std::make_unique<GithubFormat>(context.presentation,
                                                        context.summary_stream);
                }},
};

const FormatEntry* find(std::string_view name) {
  auto found = std::find_if(kFormats.begin(), kFormats.end(),
                            [&](const FormatEntry& entry) { return entry.name == name; });
  return found == kFormats.end() ? nullptr : &*found;
}

}  // namespace

std::span<const FormatEntry> output_formats() { return kFormats; }

bool is_output_format(std::string_view name) { return find(name) != nullptr; }

std::unique_ptr<ReportFormat> make_output_format(std::string_view name,
                                                 const FormatContext& context) {
  const FormatEntry* entry = find(name);
  return (entry != nullptr ? *entry : kFormats.front()).make(context);
}

std::unique_ptr<ReportFormat> make_statistics_format(const FormatContext& context,
                                                     std::string_view output_format) {
  const StatisticsFormat::Shape shape = output_format == "json" ? StatisticsFormat::Shape::Json
                                        : output_format == "json-lines"
                                            ? StatisticsFormat::Shape::JsonLines
                                            : StatisticsFormat::Shape::Table;
  return std::make_unique<StatisticsFormat>(context.summary_stream, shape);
}

std::string output_format_names(bool quoted) {
  std::string names;
  for (const FormatEntry& entry : kFormats) {
    if (!names.empty()) names += ", ";
    if (quoted) names += '"';
    names += entry.name;
    if (quoted) names += '"';
  }
  return names;
}

const std::string& output_format_help() {
  static const std::string help = [] {
    std::string text;
    for (std::size_t i = 0; i < kFormats.size(); ++i) {
      if (i > 0) text += i + 1 == kFormats.size() ? " or " : ", ";
      text += kFormats[i].name;
      if (i == 0) text += " (default)";
    }
    return text;
  }();
  return help;
}

}  // namespace keyhound
