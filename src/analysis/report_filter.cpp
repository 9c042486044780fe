#include "analysis/report_filter.hpp"

#include <set>
#include <string>
#include <variant>

namespace keyhound {

void filter_report(FileReport& report, const std::function<bool(const Finding&)>& keep) {
  if (report.outcome.status != FileStatus::HasFindings) return;
  std::vector<Finding> kept;
  std::set<std::string, std::less<>> functions;
  bool any_access = false;
  bool any_syntax_error = false;
  for (Finding& finding : report.findings) {
    if (std::holds_alternative<FunctionSummary>(finding)) {
      kept.push_back(std::move(finding));
      continue;
    }
    if (!keep(finding)) continue;
    if (const auto* access = std::get_if<AccessFinding>(&finding)) {
      functions.insert(access->function);
      any_access = true;
    } else if (const auto* call = std::get_if<CallFinding>(&finding)) {
      functions.insert(call->function);
    } else {
      any_syntax_error = true;
    }
    kept.push_back(std::move(finding));
  }
  std::vector<Finding> result;
  for (Finding& finding : kept) {
    if (const auto* summary = std::get_if<FunctionSummary>(&finding)) {
      // The module's rule counts the module among the functions with
      // issues whenever the file has a lookup; precise mode only for its own.
      bool is_module = summary->function == kModuleEntryName && !report.precise;
      if (!functions.contains(summary->function) && !(is_module && any_access)) continue;
    }
    result.push_back(std::move(finding));
  }
  report.findings = std::move(result);
  bool any_summary = false;
  for (const Finding& finding : report.findings) {
    if (std::holds_alternative<FunctionSummary>(finding)) any_summary = true;
  }
  if (!any_summary && !any_syntax_error) report.outcome = FileOutcome{};
}

}  // namespace keyhound
