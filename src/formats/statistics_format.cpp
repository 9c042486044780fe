#include "formats/statistics_format.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <map>
#include <vector>

#include "analysis/rule_catalog.hpp"
#include "formats/caret_renderer.hpp"
#include "formats/finding_fields.hpp"
#include "formats/json_text.hpp"

namespace keyhound {

void StatisticsFormat::render(const FileReport& report, LineWriter& out) const {
  if (report.outcome.status == FileStatus::ReadError) {
    print_file_outcome(out, report.path, report.outcome);
    return;
  }
  for (const FindingFields& finding : finding_fields(report, kReadablePresentation)) {
    std::string record(finding.code);
    // A ranked finding's tier after a tab: "KH001\thigh".
    if (finding.risk) {
      record += '\t';
      record += confidence_name(finding.risk->confidence);
    }
    record += '\n';
    out.write_line(Stream::Stdout, record);
  }
}

void StatisticsFormat::finish(const RunSummary& summary, std::span<const std::string> records,
                              LineWriter& out) const {
  std::map<std::string_view, std::size_t> counts;
  // Per code, the findings of each tier (high, medium, low).
  std::map<std::string_view, std::array<std::size_t, 3>> tiers;
  std::array<std::size_t, 3> all_tiers{};
  bool ranked = false;
  for (std::string_view record : records) {
    record.remove_suffix(1);
    std::size_t tab = record.find('\t');
    std::string_view code = record.substr(0, tab);
    ++counts[code];
    if (tab == std::string_view::npos) continue;
    if (std::optional<Confidence> tier = confidence_named(record.substr(tab + 1))) {
      std::size_t slot = 2 - static_cast<std::size_t>(*tier);
      ++tiers[code][slot];
      ++all_tiers[slot];
      ranked = true;
    }
  }
  std::vector<std::pair<std::string_view, std::size_t>> ordered(counts.begin(), counts.end());
  // Most frequent first; equal counts in code order, so the output is stable.
  std::sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) {
    return a.second != b.second ? a.second > b.second : a.first < b.first;
  });
  if (shape_ != Shape::Table) {
    std::string document = shape_ == Shape::Json ? "[\n" : "";
    for (std::size_t i = 0; i < ordered.size(); ++i) {
      const auto& [code, count] = ordered[i];
      const RuleDescription* rule = find_rule(code);
      JsonObject object;
      object.string("code", code)
          .string("name", rule != nullptr ? rule->name : std::string_view())
          .string("summary", rule != nullptr ? rule->summary : std::string_view())
          .number("count", count);
      if (auto found = tiers.find(code); found != tiers.end()) {
        const auto& [high, medium, low] = found->second;
        object.raw("confidence", JsonObject()
                                     .number("high", high)
                                     .number("medium", medium)
                                     .number("low", low)
                                     .text());
      }
      if (shape_ == Shape::Json) {
        document += "  " + object.text() + (i + 1 < ordered.size() ? ",\n" : "\n");
      } else {
        document += object.text() + "\n";
      }
    }
    if (shape_ == Shape::Json) document = ordered.empty() ? "[]\n" : document + "]\n";
    if (!document.empty()) out.write_line(Stream::Stdout, document);
    return;
  }
  std::size_t widest = 0;
  for (const auto& [code, count] : ordered) widest = std::max(widest, std::to_string(count).size());
  for (const auto& [code, count] : ordered) {
    std::string number = std::to_string(count);
    std::string line(widest - number.size(), ' ');
    line += number;
    line += "  ";
    line += code;
    if (const RuleDescription* rule = find_rule(code)) {
      line += "  ";
      line += rule->summary;
    }
    line += '\n';
    out.write_line(Stream::Stdout, line);
  }
  if (ranked) {
    const auto& [high, medium, low] = all_tiers;
    out.write_line(Stream::Stdout, "by confidence: " + std::to_string(high) + " high, " +
                                       std::to_string(medium) + " medium, " +
                                       std::to_string(low) + " low\n");
  }
  print_run_summary(out, summary_stream_, summary);
}

}  // namespace keyhound
