#include "formats/sarif_format.hpp"

#include <array>

#include "base/path_names.hpp"
#include "analysis/finding_identity.hpp"
#include "analysis/rule_catalog.hpp"
#include "formats/finding_fields.hpp"
#include "formats/json_text.hpp"
#include "base/version.hpp"

namespace keyhound {
namespace {

// Records carry a tag so that finish() can tell results from notifications.
constexpr char kResultTag = 'R';
constexpr char kNotificationTag = 'N';

std::size_t rule_index(std::string_view code) {
  std::span<const RuleDescription> rules = rule_descriptions();
  for (std::size_t i = 0; i < rules.size(); ++i) {
    if (rules[i].code == code) return i;
  }
  return 0;
}

void write_record(LineWriter& out, char tag, std::string_view json) {
  std::string line(1, tag);
  line += json;
  line += '\n';
  out.write_line(Stream::Stdout, line);
}

std::string single_element_array(std::string_view element) {
  std::string array = "[";
  array += element;
  array += ']';
  return array;
}

std::string text_object(std::string_view text) { return JsonObject().string("text", text).text(); }

std::string rules_json() {
  std::string rules = "[";
  for (const RuleDescription& rule : rule_descriptions()) {
    if (rules.size() > 1) rules += ", ";
    rules += JsonObject()
                 .string("id", rule.code)
                 .string("name", rule.name)
                 .raw("shortDescription", text_object(rule.summary))
                 .raw("fullDescription", text_object(rule.description))
                 .raw("help", text_object(rule.help))
                 .raw("defaultConfiguration", JsonObject().string("level", "warning").text())
                 .text();
  }
  return rules + "]";
}

}  // namespace

namespace {

std::string_view sarif_level(Confidence confidence) {
  switch (confidence) {
    case Confidence::High:
      return "error";
    case Confidence::Medium:
      return "warning";
    case Confidence::Low:
      break;
  }
  return "note";
}

uint64_t sarif_rank(Confidence confidence) {
  switch (confidence) {
    case Confidence::High:
      return 90;
    case Confidence::Medium:
      return 50;
    case Confidence::Low:
      break;
  }
  return 10;
}

}  // namespace

std::string SarifFormat::artifact_uri(std::string_view path) const {
  std::string absolute = absolute_path(path, working_directory_);
  std::string base = working_directory_ == "/" ? "/" : working_directory_ + "/";
  if (absolute.starts_with(base)) return uri_path(absolute.substr(base.size()));
  return "file://" + uri_path(absolute);
}

void SarifFormat::render(const FileReport& report, LineWriter& out) const {
  const std::string uri = artifact_uri(report.path);
  const std::string artifact = JsonObject().string("uri", uri).text();
  if (report.outcome.status == FileStatus::ReadError) {
    std::string notification =
        JsonObject()
            .string("level", "error")
            .raw("message", text_object("Error reading file '" + report.path +
                                        "': " + report.outcome.message))
            .raw("locations",
                 single_element_array(
                     JsonObject()
                         .raw("physicalLocation",
                              JsonObject().raw("artifactLocation", artifact).text())
                         .text()))
            .text();
    write_record(out, kNotificationTag, notification);
    return;
  }
  for (const FindingFields& finding : finding_fields(report, presentation_)) {
    JsonObject region;
    region.number("startLine", finding.line())
        .number("startColumn", finding.column())
        .number("endLine", finding.end_line())
        .number("endColumn", finding.end_column());
    // The command's default reports quote the lookup.
    if (presentation_.quotes_source && !finding.display_text.empty()) {
      region.raw("snippet", text_object(finding.display_text));
    }
    std::string location =
        JsonObject()
            .raw("physicalLocation",
                 JsonObject().raw("artifactLocation", artifact).raw("region", region.text()).text())
            .text();
    // A ranked finding's level follows its confidence, and its rank (of
    // 0 to 100) orders the results of one level.
    std::string_view level = "warning";
    JsonObject properties;
    if (finding.risk) {
      level = sarif_level(finding.risk->confidence);
      properties.string("confidence", confidence_name(finding.risk->confidence))
          .string("reason", finding.risk->reason);
    }
    // In a notebook, the cell whose rows the region counts.
    if (finding.cell() != 0) properties.number("cell", finding.cell());
    JsonObject result_object;
    result_object.string("ruleId", finding.code)
        .number("ruleIndex", rule_index(finding.code))
        .string("level", level);
    if (finding.risk) result_object.number("rank", sarif_rank(finding.risk->confidence));
    result_object.raw("message", text_object(finding.message))
        .raw("locations", single_element_array(location))
        .raw("partialFingerprints",
             JsonObject()
                 .string("keyhound/v1", stable_hash(finding_key(report.path, *finding.finding,
                                                                KeyFields::AsWritten)))
                 .text());
    if (finding.risk || finding.cell() != 0) result_object.raw("properties", properties.text());
    write_record(out, kResultTag, result_object.text());
  }
}

void SarifFormat::finish(const RunSummary& summary, std::span<const std::string> records,
                         LineWriter& out) const {
  std::string results;
  std::string notifications;
  for (const std::string& record : records) {
    std::string& list = record.front() == kResultTag ? results : notifications;
    list += list.empty() ? "\n        " : ",\n        ";
    list.append(record, 1, record.size() - 2);  // without the tag and the line feed
  }
  std::string driver = JsonObject()
                           .string("name", "keyhound")
                           .string("version", kVersion)
                           .string("informationUri", "urn:keyhound")
                           .raw("rules", rules_json())
                           .text();
  std::string invocation = "{\"executionSuccessful\": ";
  invocation += summary.read_errors == 0 ? "true" : "false";
  invocation += ", \"toolExecutionNotifications\": [" + notifications +
                (notifications.empty() ? "" : "\n      ") + "]}";
  std::string document = "{\n";
  document += "  \"$schema\": \"https://docs.oasis-open.org/sarif/sarif/v2.1.0/errata01/os/schemas/sarif-schema-2.1.0.json\",\n";
  document += "  \"version\": \"2.1.0\",\n";
  document += "  \"runs\": [\n    {\n";
  document += "      \"tool\": {\"driver\": " + driver + "},\n";
  document += "      \"columnKind\": \"unicodeCodePoints\",\n";
  document += "      \"invocations\": [" + invocation + "],\n";
  document += "      \"results\": [" + results + (results.empty() ? "" : "\n      ") + "]\n";
  document += "    }\n  ]\n}\n";
  out.write_line(Stream::Stdout, document);
}

}  // namespace keyhound
