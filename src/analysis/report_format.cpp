#include "analysis/report_format.hpp"

#include <variant>

namespace keyhound {

std::size_t count_findings(const FileReport& report) {
  std::size_t count = 0;
  for (const Finding& finding : report.findings) {
    if (const auto* access = std::get_if<AccessFinding>(&finding)) {
      if (!access->at_module_level()) ++count;
    } else if (std::holds_alternative<CallFinding>(finding)) {
      ++count;
    }
  }
  return count;
}

}  // namespace keyhound
