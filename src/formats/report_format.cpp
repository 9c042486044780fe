#include "formats/report_format.hpp"

#include <variant>

namespace keyhound {

std::size_t count_findings(const FileReport& report) {
  std::size_t count = 0;
  for (const Finding& finding : report.findings) {
    if (const auto* access = std::get_if<AccessFinding>(&finding)) {
      if (report.shows(*access)) ++count;
    } else if (!std::holds_alternative<FunctionSummary>(finding)) {
      ++count;
    }
  }
  return count;
}

}  // namespace keyhound
