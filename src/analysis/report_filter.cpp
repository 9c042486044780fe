#include "analysis/report_filter.hpp"

#include <algorithm>
#include <string_view>
#include <variant>
#include <vector>

namespace keyhound {

void filter_report(FileReport& report, const std::function<bool(const Finding&)>& keep) {
  if (report.outcome.status != FileStatus::HasFindings) return;
  std::vector<Finding>& findings = report.findings;
  // Everything is decided before anything moves, so that the names viewed
  // stay where they are; then the kept records close up in order.
  std::vector<char> kept(findings.size(), 0);
  std::vector<std::string_view> functions;
  // A function's findings stand together: its name once for each run.
  auto note_function = [&](std::string_view function) {
    if (functions.empty() || functions.back() != function) functions.push_back(function);
  };
  bool any_access = false;
  bool any_syntax_error = false;
  for (std::size_t i = 0; i < findings.size(); ++i) {
    const Finding& finding = findings[i];
    if (std::holds_alternative<FunctionSummary>(finding) || !keep(finding)) continue;
    kept[i] = 1;
    if (const auto* access = std::get_if<AccessFinding>(&finding)) {
      note_function(access->function);
      any_access = true;
    } else if (const auto* call = std::get_if<CallFinding>(&finding)) {
      note_function(call->function);
    } else {
      any_syntax_error = true;
    }
  }
  std::sort(functions.begin(), functions.end());
  bool any_summary = false;
  for (std::size_t i = 0; i < findings.size(); ++i) {
    const auto* summary = std::get_if<FunctionSummary>(&findings[i]);
    if (summary == nullptr) continue;
    // The module's rule counts the module among the functions with
    // issues whenever the file has a lookup; precise mode only for its own.
    const bool is_module = summary->function == kModuleEntryName && !report.precise;
    kept[i] = std::binary_search(functions.begin(), functions.end(),
                                 std::string_view(summary->function)) ||
              (is_module && any_access);
    any_summary = any_summary || kept[i];
  }
  std::size_t next = 0;
  for (std::size_t i = 0; i < findings.size(); ++i) {
    if (!kept[i]) continue;
    if (next != i) findings[next] = std::move(findings[i]);
    ++next;
  }
  findings.erase(findings.begin() + static_cast<std::ptrdiff_t>(next), findings.end());
  if (!any_summary && !any_syntax_error) report.outcome = FileOutcome{};
}

}  // namespace keyhound
