#pragma once

#include <tree_sitter/api.h>

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/id_map.hpp"
#include "analysis/findings.hpp"
#include "analysis/function_graph.hpp"
#include "analysis/suppression.hpp"
#include "rules/risk.hpp"
#include "syntax/file_index.hpp"
#include "syntax/function_entry.hpp"
#include "syntax/node_positions.hpp"

namespace keyhound {

// Builds the records of findings from tree nodes: positions with both
// kinds of column, the excerpt line, the token text, the comment row.
class FindingMaker {
 public:
  // `risks` (precise mode): each lookup's, by node id.
  FindingMaker(std::string_view source, const Suppressions& suppressions,
               const IdMap<Risk>* risks = nullptr, bool excerpts = true)
      : source_(source), suppressions_(suppressions), risks_(risks), excerpts_(excerpts) {}

  AccessFinding access(std::string_view function, TSNode node) const;
  CallFinding call(std::string_view function, const IndexedCall& call,
                   const FunctionEntry& callee, TSNode origin) const;
  SyntaxErrorFinding syntax_error(TSNode node) const;
  UnusedSuppressionFinding unused_suppression(TSNode comment, std::vector<std::string> codes) const;

 private:
  // The lines are needed only once something is found.
  const std::vector<std::string_view>& lines() const;
  NodePositions& positions() const;
  SourceLine line_of(Position start) const;

  std::optional<Risk> risk_of(TSNode lookup) const;

  std::string_view source_;
  const Suppressions& suppressions_;
  const IdMap<Risk>* risks_;
  // Whether lookups and calls carry their source line and token text.
  bool excerpts_;
  mutable std::optional<std::vector<std::string_view>> lines_;
  // By row: the line its findings share, once one of them is made.
  mutable std::vector<SourceLine> shared_lines_;
  mutable std::optional<NodePositions> positions_;
};


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
