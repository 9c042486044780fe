#include "analysis/report_pass.hpp"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "base/internal_fault.hpp"
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
                       .source_line = excerpts_ ? line_of(start) : SourceLine(),
                       .source_text = excerpts_ ? token_text(node, source_, kLongestSourceText)
                                                : std::string(),
                       .display_text = display_lookup(node, source_, kMostShownCharacters),
                       .comment_row = suppressions_.comment_row(end.row)};
  access.risk = risk_of(node);
  if (start.row != end.row) {
    std::optional<TSPoint> bracket = subscript_bracket(node);
    if (bracket && bracket->row != start.row) {
      // Counted apart from the starts and ends, which move along their own rows.
      access.key_start = CodePointColumns(lines()).at(*bracket);
      if (excerpts_) access.key_line = line_of(*access.key_start);
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
      .source_line = excerpts_ ? line_of(start) : SourceLine(),
      .source_text = excerpts_ ? token_text(call.node, source_, kLongestSourceText) : std::string(),
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
  if (start.row >= shared_lines_.size()) {
    shared_lines_.resize(std::max<std::size_t>(lines().size(), std::size_t{start.row} + 1));
  }
  SourceLine& line = shared_lines_[start.row];
  if (!line) line = make_source_line(line_at(lines(), start.row));
  return line;
}


namespace {

// What one function of the report shows: the lookups written under its
// name, and the calls whose findings it may hold, as stretches of the
// lists of all units (`ReportUnits`).
struct ReportUnit {
  // A view of the definition's name, or of the module's.
  std::string_view function;
  std::size_t accesses_begin = 0;
  std::size_t accesses_end = 0;
  // Whether it has lookups, shown or not: the module's rule makes the
  // module a function with issues for any lookup of the file.
  bool has_lookups = false;
  std::size_t calls_begin = 0;
  std::size_t calls_end = 0;
  // The table entry whose lookups this unit shows, marked once shown.
  FunctionEntry* shows_entry = nullptr;
};

// A report's units in report order, with the lookups and the calls they
// view: two lists for all of them rather than two for each of thousands.
struct ReportUnits {
  std::vector<ReportUnit> units;
  std::vector<std::size_t> accesses;
  std::vector<std::size_t> calls;
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

// The module's rule: one unit per table entry. Each lookup inside a
// function is already recorded under it: the module keeps only those
// outside every function.
ReportUnits exact_units(const FunctionGraph& graph, const FileIndex& index) {
  ReportUnits all;
  all.units.reserve(graph.entries.size());
  for (const EntryFacts& facts : graph.entries) {
    ReportUnit unit{.function = facts.name,
                    .accesses_begin = all.accesses.size(),
                    .accesses_end = 0,
                    .has_lookups = facts.accesses_end > facts.accesses_begin,
                    .calls_begin = all.calls.size(),
                    .calls_end = 0,
                    .shows_entry = facts.entry};
    const bool is_module = facts.name == kModuleEntryName;
    for (std::size_t a = facts.accesses_begin; a < facts.accesses_end; ++a) {
      if (!is_module || !index.access_in_function[a]) all.accesses.push_back(a);
    }
    for (std::size_t k = facts.calls_begin; k < facts.calls_end; ++k) all.calls.push_back(k);
    unit.accesses_end = all.accesses.size();
    unit.calls_end = all.calls.size();
    all.units.push_back(unit);
  }
  return all;
}

// Puts each of `count` items under its owner's slot, keeping their order
// within a slot: `begins[slot]` to `begins[slot + 1]` of the returned list.
template <typename SlotOf>
std::vector<std::size_t> grouped(std::size_t count, std::size_t slots, const SlotOf& slot_of,
                                 std::vector<std::size_t>& begins) {
  begins.assign(slots + 1, 0);
  for (std::size_t i = 0; i < count; ++i) ++begins[slot_of(i) + 1];
  for (std::size_t slot = 0; slot < slots; ++slot) begins[slot + 1] += begins[slot];
  std::vector<std::size_t> next(begins.begin(), begins.end() - 1);
  std::vector<std::size_t> items(count);
  for (std::size_t i = 0; i < count; ++i) items[next[slot_of(i)]++] = i;
  return items;
}

// Precise mode: one unit per definition, holding what its innermost
// function is, module-level lookups and calls under "<module>".
ReportUnits precise_units(const FileIndex& index) {
  const std::size_t module = index.definitions.size();
  auto slot = [&](std::size_t owner) { return owner == kNoDefinition ? module : owner; };
  ReportUnits all;
  std::vector<std::size_t> access_begins;
  std::vector<std::size_t> call_begins;
  all.accesses = grouped(
      index.accesses.size(), module + 1,
      [&](std::size_t a) { return slot(index.access_owner[a]); }, access_begins);
  all.calls = grouped(
      index.calls.size(), module + 1, [&](std::size_t k) { return slot(index.calls[k].owner); },
      call_begins);
  std::vector<std::size_t> order(module);
  for (std::size_t d = 0; d < module; ++d) order[d] = d;
  sort_in_report_order(order.begin(), order.end(),
                       [&](std::size_t d) { return index.definitions[d].node; });
  order.push_back(module);
  all.units.reserve(order.size());
  for (std::size_t d : order) {
    all.units.push_back(ReportUnit{
        .function = d == module ? kModuleEntryName : std::string_view(index.definitions[d].name),
        .accesses_begin = access_begins[d],
        .accesses_end = access_begins[d + 1],
        .has_lookups = access_begins[d + 1] > access_begins[d],
        .calls_begin = call_begins[d],
        .calls_end = call_begins[d + 1],
        .shows_entry = nullptr});
  }
  return all;
}

// Precise mode: whether a table entry's own definition has lookups. Its
// entries are the definitions in walk order, the module's last.
ShowsLookups own_lookups(const FunctionGraph& graph, const FileIndex& index) {
  const std::size_t module = index.definitions.size();
  if (graph.entries.size() != module + 1) {
    throw InternalFault("precise mode's entries are not the file's definitions");
  }
  std::vector<char> has_lookups(module + 1, 0);
  for (std::size_t a = 0; a < index.accesses.size(); ++a) {
    const std::size_t owner = index.access_owner[a];
    has_lookups[owner == kNoDefinition ? module : owner] = 1;
  }
  return [has_lookups = std::move(has_lookups)](std::size_t entry) {
    return has_lookups[entry] != 0;
  };
}

}  // namespace

void report_findings(ReportMode mode, const FunctionGraph& graph, const FileIndex& index,
                     const FindingMaker& make, std::vector<Finding>& findings) {
  const bool exact = mode == ReportMode::Exact;
  ReportUnits all = exact ? exact_units(graph, index) : precise_units(index);
  // Exact: a callee whose own lookups were reported before shows the
  // KeyError there.
  ShowsLookups shows_lookups =
      exact ? ShowsLookups([&graph](std::size_t e) { return graph.entries[e].entry->accesses_reported; })
            : own_lookups(graph, index);
  CallReporter calls(graph, index, make, findings);
  for (ReportUnit& unit : all.units) {
    for (std::size_t i = unit.accesses_begin; i < unit.accesses_end; ++i) {
      findings.emplace_back(make.access(unit.function, index.accesses[all.accesses[i]]));
    }
    if (unit.has_lookups && unit.shows_entry) unit.shows_entry->accesses_reported = true;
    bool has_issues = unit.has_lookups;
    for (std::size_t i = unit.calls_begin; i < unit.calls_end; ++i) {
      if (calls.report(all.calls[i], unit.function, shows_lookups)) has_issues = true;
    }
    if (has_issues) findings.emplace_back(FunctionSummary{std::string(unit.function)});
  }
}

}  // namespace keyhound
