#include "analysis/report_pass.hpp"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "rules/risk_origins.hpp"
#include "syntax/module_entry.hpp"
#include "syntax/node_positions.hpp"
#include "syntax/source_lines.hpp"
#include "syntax/token_text.hpp"

namespace keyhound {

AccessFinding FindingMaker::access(std::string_view function, TSNode node) const {
  Position start = positions().start_of(node);
  Position end = positions().end_of(node);
  AccessFinding access{.function = std::string(function),
                       .start = start,
                       .end = end,
                       .source_line = line_of(start),
                       .source_text = token_text(node, source_, kLongestSourceText),
                       .display_text = display_lookup(node, source_, kMostShownCharacters),
                       .comment_row = suppressions_.comment_row(end.row)};
  access.risk = risk_of(node);
  if (start.row != end.row) {
    std::optional<TSPoint> bracket = subscript_bracket(node);
    if (bracket && bracket->row != start.row) {
      // Counted apart from the starts and ends, which move along their own rows.
      access.key_start = CodePointColumns(lines()).at(*bracket);
      access.key_line = line_of(*access.key_start);
    }
  }
  return access;
}

// A lookup the ranking did not reach (a text too long to compare) is
// shown as what nothing says otherwise of.
std::optional<Risk> FindingMaker::risk_of(TSNode lookup) const {
  if (!risks_) return std::nullopt;
  auto found = risks_->find(lookup.id);
  if (found != risks_->end()) return found->second;
  return Risk{Confidence::Medium, "a lookup keyhound cannot trace"};
}

CallFinding FindingMaker::call(std::string_view function, const IndexedCall& call,
                               const FunctionEntry& callee, TSNode origin) const {
  Position start = positions().start_of(call.node);
  Position end = positions().end_of(call.node);
  std::optional<Risk> risk;
  if (risks_) risk = rank_call(risk_of(origin));
  return CallFinding{
      .function = std::string(function),
      .callee = std::string(call.name),
      .exceptions = std::vector<std::string>(callee.may_raise.begin(), callee.may_raise.end()),
      .start = start,
      .end = end,
      .source_line = line_of(start),
      .source_text = token_text(call.node, source_, kLongestSourceText),
      .display_text = display_text(call.node, source_, kMostShownCharacters),
      .origin = Origin{positions().start_of(origin),
                       display_text(origin, source_, kMostShownCharacters)},
      .comment_row = suppressions_.comment_row(end.row),
      .risk = std::move(risk)};
}

SyntaxErrorFinding FindingMaker::syntax_error(TSNode node) const {
  Position start = positions().start_of(node);
  Position end = positions().end_of(node);
  return SyntaxErrorFinding{start, end, line_of(start), suppressions_.comment_row(end.row)};
}

UnusedSuppressionFinding FindingMaker::unused_suppression(TSNode comment,
                                                          std::vector<std::string> codes) const {
  Position start = positions().start_of(comment);
  Position end = positions().end_of(comment);
  return UnusedSuppressionFinding{start, end, line_of(start), suppressions_.comment_row(end.row),
                                  std::move(codes)};
}

const std::vector<std::string_view>& FindingMaker::lines() const {
  if (!lines_) lines_ = source_lines(source_);
  return *lines_;
}

NodePositions& FindingMaker::positions() const {
  if (!positions_) positions_.emplace(lines());
  return *positions_;
}

SourceLine FindingMaker::line_of(Position start) const {
  SourceLine& line = shared_lines_[start.row];
  if (!line) line = make_source_line(line_at(lines(), start.row));
  return line;
}


namespace {

// What one function of the report shows: the lookups written under its
// name, and the calls whose findings it may hold.
struct ReportUnit {
  // A view of the definition's name, or of the module's.
  std::string_view function;
  std::vector<std::size_t> shown_accesses;
  // Whether it has lookups, shown or not: the module's rule makes the
  // module a function with issues for any lookup of the file.
  bool has_lookups = false;
  std::vector<std::size_t> calls;
  // The table entry whose lookups this unit shows, marked once shown.
  FunctionEntry* shows_entry = nullptr;
};

struct ReportedCall {
  uint64_t line;
  std::string_view callee;
  bool operator==(const ReportedCall&) const = default;
};

struct ReportedCallHash {
  std::size_t operator()(const ReportedCall& call) const noexcept {
    return std::hash<std::string_view>{}(call.callee) ^ (call.line * 0x9E3779B97F4A7C15ULL);
  }
};

using ShowsLookups = std::function<bool(std::size_t entry)>;

// Records the findings of raising calls: a call is reported unless it is
// guarded, its callee cannot raise, the callee shows the KeyError through
// lookups of its own (`shows_lookups`), or a call of that callee on that
// line was reported already.
class CallReporter {
 public:
  CallReporter(const FunctionGraph& graph, const FileIndex& index, const FindingMaker& make,
               std::vector<Finding>& findings)
      : graph_(graph), index_(index), make_(make), findings_(findings) {}

  // Whether call `k`, written in `function`, was reported.
  bool report(std::size_t k, std::string_view function, const ShowsLookups& shows_lookups) {
    const IndexedCall& call = index_.calls[k];
    const std::size_t entry = graph_.callee_of[k];
    if (entry == kNoEntry || call.guarded) return false;
    const FunctionEntry& callee = *graph_.entries[entry].entry;
    if (callee.may_raise.empty() || shows_lookups(entry)) return false;
    ReportedCall key{uint64_t{rows_of(call.node).first} + 1, call.name};
    if (!reported_.insert(key).second) return false;
    findings_.emplace_back(
        make_.call(function, call, callee, index_.accesses[graph_.entries[entry].origin_access]));
    return true;
  }

 private:
  const FunctionGraph& graph_;
  const FileIndex& index_;
  const FindingMaker& make_;
  std::vector<Finding>& findings_;
  std::unordered_set<ReportedCall, ReportedCallHash> reported_;
};

std::vector<std::size_t> range(std::size_t begin, std::size_t end) {
  std::vector<std::size_t> values;
  values.reserve(end - begin);
  for (std::size_t i = begin; i < end; ++i) values.push_back(i);
  return values;
}

// The module's rule: one unit per table entry. Each lookup inside a
// function is already recorded under it: the module keeps only those
// outside every function.
std::vector<ReportUnit> exact_units(const FunctionGraph& graph, const FileIndex& index) {
  std::vector<ReportUnit> units;
  units.reserve(graph.entries.size());
  for (const EntryFacts& facts : graph.entries) {
    ReportUnit unit{.function = facts.name,
                    .shown_accesses = {},
                    .has_lookups = facts.accesses_end > facts.accesses_begin,
                    .calls = range(facts.calls_begin, facts.calls_end),
                    .shows_entry = facts.entry};
    const bool is_module = facts.name == kModuleEntryName;
    for (std::size_t a = facts.accesses_begin; a < facts.accesses_end; ++a) {
      if (!is_module || !index.access_in_function[a]) unit.shown_accesses.push_back(a);
    }
    units.push_back(std::move(unit));
  }
  return units;
}

// Precise mode: one unit per definition, holding what its innermost
// function is, module-level lookups and calls under "<module>".
std::vector<ReportUnit> precise_units(const FileIndex& index) {
  const std::size_t module = index.definitions.size();
  auto slot = [&](std::size_t owner) { return owner == kNoDefinition ? module : owner; };
  std::vector<ReportUnit> by_definition(module + 1);
  for (std::size_t d = 0; d < module; ++d) {
    by_definition[d].function = index.definitions[d].name;
  }
  by_definition[module].function = kModuleEntryName;
  for (std::size_t a = 0; a < index.accesses.size(); ++a) {
    ReportUnit& unit = by_definition[slot(index.access_owner[a])];
    unit.shown_accesses.push_back(a);
    unit.has_lookups = true;
  }
  for (std::size_t k = 0; k < index.calls.size(); ++k) {
    by_definition[slot(index.calls[k].owner)].calls.push_back(k);
  }
  std::vector<std::size_t> order = range(0, module);
  sort_in_report_order(order.begin(), order.end(),
                       [&](std::size_t d) { return index.definitions[d].node; });
  order.push_back(module);
  std::vector<ReportUnit> units;
  units.reserve(order.size());
  for (std::size_t d : order) units.push_back(std::move(by_definition[d]));
  return units;
}

// Precise mode: whether a table entry's own definition has lookups.
ShowsLookups own_lookups(const FunctionGraph& graph, const FileIndex& index) {
  std::unordered_map<const void*, bool> has_lookups;
  for (const DefinitionSpan& span : index.definitions) has_lookups[span.node.id] = false;
  bool module_has_lookups = false;
  for (std::size_t a = 0; a < index.accesses.size(); ++a) {
    std::size_t owner = index.access_owner[a];
    if (owner == kNoDefinition) {
      module_has_lookups = true;
    } else {
      has_lookups[index.definitions[owner].node.id] = true;
    }
  }
  return [&graph, has_lookups = std::move(has_lookups), module_has_lookups](std::size_t entry) {
    auto found = has_lookups.find(graph.entries[entry].entry->node.id);
    return found == has_lookups.end() ? module_has_lookups : found->second;
  };
}

}  // namespace

void report_findings(ReportMode mode, const FunctionGraph& graph, const FileIndex& index,
                     const FindingMaker& make, std::vector<Finding>& findings) {
  const bool exact = mode == ReportMode::Exact;
  std::vector<ReportUnit> units = exact ? exact_units(graph, index) : precise_units(index);
  // Exact: a callee whose own lookups were reported before shows the
  // KeyError there.
  ShowsLookups shows_lookups =
      exact ? ShowsLookups([&graph](std::size_t e) { return graph.entries[e].entry->accesses_reported; })
            : own_lookups(graph, index);
  CallReporter calls(graph, index, make, findings);
  for (ReportUnit& unit : units) {
    for (std::size_t a : unit.shown_accesses) {
      findings.emplace_back(make.access(unit.function, index.accesses[a]));
    }
    if (unit.has_lookups && unit.shows_entry) unit.shows_entry->accesses_reported = true;
    bool has_issues = unit.has_lookups;
    for (std::size_t k : unit.calls) {
      if (calls.report(k, unit.function, shows_lookups)) has_issues = true;
    }
    if (has_issues) findings.emplace_back(FunctionSummary{std::string(unit.function)});
  }
}

}  // namespace keyhound
