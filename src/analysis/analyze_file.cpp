#include "analysis/analyze_file.hpp"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <limits>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/memory_budget.hpp"
#include "analysis/propagation.hpp"
#include "syntax/source_lines.hpp"
#include "analysis/suppression.hpp"
#include "syntax/precise/precise_rules.hpp"
#include "syntax/parse_memory.hpp"
#include "syntax/parse_python.hpp"
#include "base/internal_fault.hpp"
#include "syntax/file_index.hpp"
#include "syntax/function_entry.hpp"
#include "syntax/node_text.hpp"
#include "syntax/python_grammar.hpp"
#include "syntax/tree_sitter_handles.hpp"

namespace keyhound {
namespace {

constexpr std::string_view kKeyError = "KeyError";

// Points of the tree with their columns also counted in code points, which
// needs the text of their rows. The count moves from the last point asked
// for, so that the many ends of nested nodes on one long row cost the bytes
// between them, not the whole row each.
class CodePointColumns {
 public:
  explicit CodePointColumns(const std::vector<std::string_view>& lines) : lines_(lines) {}

  Position at(TSPoint point) {
    std::string_view line = line_at(lines_, point.row);
    uint32_t bytes = std::min<uint32_t>(point.column, static_cast<uint32_t>(line.size()));
    if (point.row != row_) {
      row_ = point.row;
      byte_ = 0;
      count_ = 0;
    }
    auto starts_code_point = [&](uint32_t i) {
      return (static_cast<unsigned char>(line[i]) & 0xC0) != 0x80;
    };
    for (; byte_ < bytes; ++byte_) count_ += starts_code_point(byte_) ? 1 : 0;
    for (; byte_ > bytes; --byte_) count_ -= starts_code_point(byte_ - 1) ? 1 : 0;
    // A column past the line's end (a node ending at a line feed) counts on.
    uint32_t beyond = point.column > bytes ? point.column - bytes : 0;
    return {point.row, point.column, count_ + beyond};
  }

 private:
  const std::vector<std::string_view>& lines_;
  uint32_t row_ = UINT32_MAX;
  uint32_t byte_ = 0;
  uint32_t count_ = 0;
};

// The node's text without the white space, line continuations and
// comments between its tokens (strings kept whole, as written): the same
// text however the code is laid out. Read lexically from the source and cut
// at a bounded length, so that a deeply nested lookup costs no more than a
// shallow one; a longer text ends in "...".
std::string token_text(TSNode node, std::string_view source) {
  constexpr std::size_t kLongest = kLongestSourceText;
  std::string_view text = node_text(node, source);
  std::string joined;
  std::size_t i = 0;
  while (i < text.size() && joined.size() <= kLongest) {
    char c = text[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\\') {
      ++i;  // blanks, and the backslash of a continuation (strings are read whole)
    } else if (c == '#') {
      while (i < text.size() && text[i] != '\n') ++i;
    } else if (c == '"' || c == '\'') {
      bool triple = text.substr(i, 3) == std::string(3, c);
      std::size_t quote = triple ? 3 : 1;
      std::size_t end = i + quote;
      while (end < text.size()) {
        if (text[end] == '\\') {
          end += 2;
        } else if (text.substr(end, quote) == std::string(quote, c)) {
          end += quote;
          break;
        } else {
          ++end;
        }
      }
      end = std::min(end, text.size());
      joined += text.substr(i, end - i);
      i = end;
    } else {
      joined += c;
      ++i;
    }
  }
  if (joined.size() <= kLongest) return joined;
  joined.resize(kLongest);
  // Never end inside a UTF-8 sequence.
  while (!joined.empty() && (static_cast<unsigned char>(joined.back()) & 0xC0) == 0x80) {
    joined.pop_back();
  }
  if (!joined.empty() && static_cast<unsigned char>(joined.back()) >= 0xC0) joined.pop_back();
  return joined + "...";
}

// One entry of the function table with the slices of the file index that
// lie beneath its node: what the walks from its node would find, gathered
// once for the propagation and the report pass alike.
struct EntryFacts {
  std::string_view name;
  FunctionEntry* entry = nullptr;
  std::size_t accesses_begin = 0;
  std::size_t accesses_end = 0;
  std::size_t calls_begin = 0;
  std::size_t calls_end = 0;
  // When the entry may raise: the index access its KeyError comes from.
  std::size_t origin_access = 0;
};

// Function entries in the order their definitions end (a nested function
// before the one around it, siblings in source order), the module entry
// last. The same order every run, unlike the table's own.
// Report order of two definitions: the one that ends first; of two that end
// together, the inner one (which starts later).
bool reported_before(TSNode a, TSNode b) {
  uint32_t a_end = ts_node_end_byte(a);
  uint32_t b_end = ts_node_end_byte(b);
  if (a_end != b_end) return a_end < b_end;
  return ts_node_start_byte(a) > ts_node_start_byte(b);
}

void sort_into_report_order(std::vector<EntryFacts>& facts) {
  std::sort(facts.begin(), facts.end() - 1, [](const EntryFacts& a, const EntryFacts& b) {
    return reported_before(a.entry->node, b.entry->node);
  });
}

constexpr std::size_t kNoEntry = std::numeric_limits<std::size_t>::max();

// Fills the table as collect_functions does (every definition in walk
// order, a later one of a name replacing the earlier), adds the module
// entry, and returns the entries in report order with their index slices.
std::vector<EntryFacts> fill_function_table(const FileIndex& index, TSNode root,
                                            FunctionTable& table) {
  std::unordered_map<std::string_view, std::size_t> definition_of;
  definition_of.reserve(index.definitions.size());
  for (std::size_t i = 0; i < index.definitions.size(); ++i) {
    definition_of.insert_or_assign(index.definitions[i].name, i);
  }
  table.reserve(definition_of.size() + 1);
  std::vector<EntryFacts> entries;
  entries.reserve(definition_of.size() + 1);
  for (const auto& [name, definition] : definition_of) {
    const DefinitionSpan& span = index.definitions[definition];
    auto slot = table.insert_or_assign(
        std::string(name),
        FunctionEntry{.may_raise = {}, .node = span.node, .accesses_reported = false}).first;
    entries.push_back(EntryFacts{slot->first, &slot->second, span.accesses_begin,
                                 span.accesses_end, span.calls_begin, span.calls_end});
  }
  auto module = table.insert_or_assign(
      std::string(kModuleEntryName),
      FunctionEntry{.may_raise = {}, .node = root, .accesses_reported = false}).first;
  entries.push_back(EntryFacts{module->first, &module->second, 0, index.accesses.size(), 0,
                               index.calls.size()});
  sort_into_report_order(entries);
  return entries;
}

// For each call of the index, the entry its callee names, or kNoEntry: a
// call relates to a function only when its callee text is the name itself.
std::vector<std::size_t> resolve_callees(const std::vector<EntryFacts>& entries,
                                         const FileIndex& index) {
  std::unordered_map<std::string_view, std::size_t> entry_of;
  entry_of.reserve(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) entry_of.emplace(entries[i].name, i);
  std::vector<std::size_t> callee_of(index.calls.size(), kNoEntry);
  for (std::size_t k = 0; k < index.calls.size(); ++k) {
    auto found = entry_of.find(index.calls[k].name);
    if (found != entry_of.end()) callee_of[k] = found->second;
  }
  return callee_of;
}

// Gives "KeyError" to every entry from which an unguarded access can be
// reached through unguarded bare-name calls.
void propagate(std::vector<EntryFacts>& entries, const FileIndex& index,
               const std::vector<std::size_t>& callee_of) {
  std::vector<CallGraphNode> graph(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const EntryFacts& facts = entries[i];
    graph[i].has_unguarded_access = facts.accesses_end > facts.accesses_begin;
    for (std::size_t k = facts.calls_begin; k < facts.calls_end; ++k) {
      if (callee_of[k] != kNoEntry && !index.calls[k].guarded) {
        graph[i].unguarded_callees.push_back(callee_of[k]);
      }
    }
  }
  std::vector<std::size_t> sources = keyerror_sources(graph);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (sources[i] == kNoSource) continue;
    entries[i].entry->may_raise.emplace(kKeyError);
    // The first unguarded access of the entry the KeyError comes from.
    entries[i].origin_access = entries[sources[i]].accesses_begin;
  }
}

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

// Builds the records of findings from tree nodes: positions with both
// kinds of column, the excerpt line, the token text, the comment row.
class FindingMaker {
 public:
  FindingMaker(std::string_view source, const Suppressions& suppressions)
      : source_(source), suppressions_(suppressions) {}

  AccessFinding access(const std::string& function, TSNode node) const {
    Position start = start_of(node);
    Position end = end_of(node);
    return AccessFinding{.function = function,
                         .start = start,
                         .end = end,
                         .source_line = line_of(start),
                         .source_text = token_text(node, source_),
                         .comment_row = suppressions_.comment_row(end.row)};
  }

  CallFinding call(const std::string& function, const IndexedCall& call,
                   const FunctionEntry& callee, TSNode origin) const {
    Position start = start_of(call.node);
    Position end = end_of(call.node);
    return CallFinding{
        .function = function,
        .callee = std::string(call.name),
        .exceptions = std::vector<std::string>(callee.may_raise.begin(), callee.may_raise.end()),
        .start = start,
        .end = end,
        .source_line = line_of(start),
        .source_text = token_text(call.node, source_),
        .origin = Origin{start_of(origin)},
        .comment_row = suppressions_.comment_row(end.row)};
  }

  SyntaxErrorFinding syntax_error(TSNode node) const {
    Position start = start_of(node);
    Position end = end_of(node);
    return SyntaxErrorFinding{start, end, line_of(start), suppressions_.comment_row(end.row)};
  }

 private:
  // The lines are needed only once something is found.
  const std::vector<std::string_view>& lines() const {
    if (!lines_) lines_ = source_lines(source_);
    return *lines_;
  }
  SourceLine line_of(Position start) const {
    SourceLine& line = shared_lines_[start.row];
    if (!line) line = make_source_line(line_at(lines(), start.row));
    return line;
  }
  // Starts and ends move separately: nested nodes start on many rows but
  // may all end on one.
  Position start_of(TSNode node) const {
    if (!start_columns_) start_columns_.emplace(lines());
    return start_columns_->at(ts_node_start_point(node));
  }
  Position end_of(TSNode node) const {
    if (!end_columns_) end_columns_.emplace(lines());
    return end_columns_->at(ts_node_end_point(node));
  }

  std::string_view source_;
  const Suppressions& suppressions_;
  mutable std::optional<std::vector<std::string_view>> lines_;
  mutable std::unordered_map<uint32_t, SourceLine> shared_lines_;
  mutable std::optional<CodePointColumns> start_columns_;
  mutable std::optional<CodePointColumns> end_columns_;
};

// Records the findings of raising calls, for both reports: a call is
// reported unless it is guarded, its callee cannot raise, the callee shows
// the KeyError through lookups of its own (`shows_lookups`), or a call of
// that callee on that line was reported already.
class CallReporter {
 public:
  CallReporter(const std::vector<EntryFacts>& entries, const FileIndex& index,
               const std::vector<std::size_t>& callee_of, const FindingMaker& make,
               std::vector<Finding>& findings)
      : entries_(entries), index_(index), callee_of_(callee_of), make_(make), findings_(findings) {}

  // Whether call `k`, written in `function`, was reported.
  template <class ShowsLookups>
  bool report(std::size_t k, const std::string& function, const ShowsLookups& shows_lookups) {
    const IndexedCall& call = index_.calls[k];
    const std::size_t entry = callee_of_[k];
    if (entry == kNoEntry || call.guarded) return false;
    const FunctionEntry& callee = *entries_[entry].entry;
    if (callee.may_raise.empty() || shows_lookups(entry)) return false;
    ReportedCall key{uint64_t{ts_node_start_point(call.node).row} + 1, call.name};
    if (!reported_.insert(key).second) return false;
    findings_.emplace_back(
        make_.call(function, call, callee, index_.accesses[entries_[entry].origin_access]));
    return true;
  }

 private:
  const std::vector<EntryFacts>& entries_;
  const FileIndex& index_;
  const std::vector<std::size_t>& callee_of_;
  const FindingMaker& make_;
  std::vector<Finding>& findings_;
  std::unordered_set<ReportedCall, ReportedCallHash> reported_;
};

// Visits the entries in order and records each finding and summary as it
// is found, in the order the report shows them.
void report(std::vector<EntryFacts>& entries, const FileIndex& index,
            const std::vector<std::size_t>& callee_of, const FindingMaker& make,
            std::vector<Finding>& findings) {
  CallReporter calls(entries, index, callee_of, make, findings);
  for (EntryFacts& facts : entries) {
    const bool is_module = facts.name == kModuleEntryName;
    const std::string function(facts.name);
    bool function_has_issues = false;
    for (std::size_t a = facts.accesses_begin; a < facts.accesses_end; ++a) {
      // The module entry's accesses make it a function with issues, but
      // each one inside a function is already recorded under it: the module
      // keeps only those outside every function.
      if (!is_module || !index.access_in_function[a]) {
        findings.emplace_back(make.access(function, index.accesses[a]));
      }
      function_has_issues = true;
    }
    if (facts.accesses_end > facts.accesses_begin) facts.entry->accesses_reported = true;

    for (std::size_t k = facts.calls_begin; k < facts.calls_end; ++k) {
      // A callee whose own lookups were reported before shows the KeyError there.
      auto shown_earlier = [&](std::size_t e) { return entries[e].entry->accesses_reported; };
      if (calls.report(k, function, shown_earlier)) function_has_issues = true;
    }

    if (function_has_issues) findings.emplace_back(FunctionSummary{function});
  }
}

std::vector<CommentToken> comment_tokens(const FileIndex& index, std::string_view source) {
  std::vector<CommentToken> tokens;
  tokens.reserve(index.comments.size());
  for (TSNode comment : index.comments) {
    TSPoint start = ts_node_start_point(comment);
    uint32_t byte = ts_node_start_byte(comment);
    // Whole-line: only blanks between the row's start and the comment.
    bool whole_line = true;
    for (uint32_t i = byte - start.column; i < byte; ++i) {
      if (source[i] != ' ' && source[i] != '\t' && source[i] != '\f') whole_line = false;
    }
    tokens.push_back({start.row, node_text(comment, source), whole_line});
  }
  return tokens;
}

// Takes the lookups for which `drop` holds out of the index, keeping every
// definition's slices right.
void drop_accesses(FileIndex& index, const std::function<bool(std::size_t)>& drop) {
  std::vector<std::size_t> kept_before(index.accesses.size() + 1, 0);
  std::size_t kept = 0;
  for (std::size_t a = 0; a < index.accesses.size(); ++a) {
    kept_before[a] = kept;
    if (drop(a)) continue;
    index.accesses[kept] = index.accesses[a];
    index.access_in_function[kept] = index.access_in_function[a];
    index.access_owner[kept] = index.access_owner[a];
    ++kept;
  }
  kept_before[index.accesses.size()] = kept;
  index.accesses.resize(kept);
  index.access_in_function.resize(kept);
  index.access_owner.resize(kept);
  for (DefinitionSpan& span : index.definitions) {
    span.accesses_begin = kept_before[span.accesses_begin];
    span.accesses_end = kept_before[span.accesses_end];
  }
}

std::pair<uint32_t, uint32_t> rows_of(TSNode node) {
  return {ts_node_start_point(node).row, ts_node_end_point(node).row};
}

// Takes the suppressed lookups out of the index and marks the suppressed
// calls guarded.
void drop_suppressed(FileIndex& index, const Suppressions& suppressions) {
  drop_accesses(index, [&](std::size_t a) {
    auto [first, last] = rows_of(index.accesses[a]);
    return suppressions.suppresses(kAccessCode, first, last);
  });
  for (IndexedCall& call : index.calls) {
    auto [first, last] = rows_of(call.node);
    if (!call.guarded && suppressions.suppresses(kCallCode, first, last)) call.guarded = true;
  }
}

// Precise mode's report: each lookup under the innermost function that holds
// it (module-level ones under "<module>"), each raising call once per line
// and callee under the innermost function that holds it, unless the callee
// shows lookups of its own. Functions come in the order their definitions
// end, each under its own name (a redefined one too), "<module>" last.
void report_precise(const std::vector<EntryFacts>& entries, const FileIndex& index,
                    const std::vector<std::size_t>& callee_of, const FindingMaker& make,
                    std::vector<Finding>& findings) {
  const std::size_t module = index.definitions.size();
  auto slot = [&](std::size_t owner) { return owner == kNoDefinition ? module : owner; };
  std::vector<std::vector<std::size_t>> accesses_of(module + 1);
  for (std::size_t a = 0; a < index.accesses.size(); ++a) {
    accesses_of[slot(index.access_owner[a])].push_back(a);
  }
  std::vector<std::vector<std::size_t>> calls_of(module + 1);
  for (std::size_t k = 0; k < index.calls.size(); ++k) {
    calls_of[slot(index.calls[k].owner)].push_back(k);
  }
  // Which definition each table entry is, to know its own lookups.
  std::unordered_map<const void*, std::size_t> definition_of;
  for (std::size_t d = 0; d < index.definitions.size(); ++d) {
    definition_of[index.definitions[d].node.id] = d;
  }
  auto own_lookups = [&](std::size_t entry) {
    auto found = definition_of.find(entries[entry].entry->node.id);
    return found == definition_of.end() ? !accesses_of[module].empty()
                                        : !accesses_of[found->second].empty();
  };
  std::vector<std::size_t> order(index.definitions.size());
  for (std::size_t d = 0; d < order.size(); ++d) order[d] = d;
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return reported_before(index.definitions[a].node, index.definitions[b].node);
  });
  order.push_back(module);
  CallReporter calls(entries, index, callee_of, make, findings);
  for (std::size_t d : order) {
    const std::string function(d == module ? kModuleEntryName : index.definitions[d].name);
    bool has_issues = false;
    for (std::size_t a : accesses_of[d]) {
      findings.emplace_back(make.access(function, index.accesses[a]));
      has_issues = true;
    }
    for (std::size_t k : calls_of[d]) {
      if (calls.report(k, function, own_lookups)) has_issues = true;
    }
    if (has_issues) findings.emplace_back(FunctionSummary{function});
  }
}

}  // namespace

namespace {

FileReport analyze_text(std::string_view path, std::string_view source,
                        const AnalysisOptions& options) {
  // Declared first: it outlives the tree.
  const std::optional<uint64_t> share = parse_memory_share(source.size());
  ParseArenaScope arena(share);
  Tree tree = parse_python(source, arena.cancellation_flag());
  if (!tree) {
    // Refused like a file too large to read: the run goes on without it.
    return FileReport{.path = std::string(path),
                      .findings = {},
                      .outcome = FileOutcome{FileStatus::ReadError, parse_refusal(share.value_or(0))}};
  }
  TSNode root = ts_tree_root_node(tree.get());

  // Precise mode rides on the index's walk: one walk of the tree either way.
  std::optional<PreciseObserver> precise_observer;
  if (options.precise) precise_observer.emplace(source);
  FileIndex index =
      index_file(root, source, precise_observer ? &precise_observer->observer() : nullptr);
  const Suppressions suppressions(
      options.honour_suppressions ? comment_tokens(index, source) : std::vector<CommentToken>{},
      index.joined_rows);
  if (options.honour_suppressions) drop_suppressed(index, suppressions);
  std::optional<PreciseFacts> precise;
  if (precise_observer) {
    precise = precise_observer->finish();
    drop_accesses(index, [&](std::size_t a) { return precise->exempt.contains(index.accesses[a].id); });
    for (IndexedCall& call : index.calls) {
      // A call whose name is not the function's where it is written relates
      // to nothing; marking it guarded takes it out of both passes.
      if (precise->unrelated_calls.contains(call.node.id)) call.guarded = true;
    }
  }
  FunctionTable table;
  std::vector<EntryFacts> entries = fill_function_table(index, root, table);
  const std::vector<std::size_t> callee_of = resolve_callees(entries, index);
  propagate(entries, index, callee_of);

  FileReport file{.path = std::string(path), .findings = {}, .outcome = {}, .precise = options.precise};
  const FindingMaker make(source, suppressions);
  if (precise) {
    if (precise->first_error) {
      auto [first, last] = rows_of(*precise->first_error);
      if (!options.honour_suppressions || !suppressions.suppresses(kSyntaxCode, first, last)) {
        file.findings.emplace_back(make.syntax_error(*precise->first_error));
      }
    }
    report_precise(entries, index, callee_of, make, file.findings);
  } else {
    report(entries, index, callee_of, make, file.findings);
  }
  if (!file.findings.empty()) {
    file.outcome = FileOutcome{FileStatus::HasFindings, file_issues_message(path)};
  }
  return file;
}

}  // namespace

FileReport analyze_file(std::string_view path, std::string_view source,
                        const AnalysisOptions& options) {
  FileReport report = analyze_text(path, source, options);
  // The parse of a large file leaves the allocator holding much free
  // memory; the next file's estimate should not count it as taken.
  if (source.size() > kLargeSource) release_unused_memory();
  return report;
}

}  // namespace keyhound
