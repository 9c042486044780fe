#pragma once

#include <vector>

#include "analysis/finding_maker.hpp"
#include "analysis/findings.hpp"
#include "analysis/function_graph.hpp"
#include "syntax/file_index.hpp"

namespace keyhound {

enum class ReportMode {
  // The module's rule: the lookups of each table entry (the last function
  // of a name) under its name, the module's own under "<module>".
  Exact,
  // Each lookup and raising call under the innermost function that holds
  // it, each function under its own name (a redefined one too).
  Precise,
};

// Records each finding and function summary of the file, in the order the
// report shows them: functions in the order their definitions end,
// "<module>" last.
void report_findings(ReportMode mode, const FunctionGraph& graph, const FileIndex& index,
                     const FindingMaker& make, std::vector<Finding>& findings);

}  // namespace keyhound
