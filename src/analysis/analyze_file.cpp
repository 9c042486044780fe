#include "analysis/analyze_file.hpp"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "analysis/propagation.hpp"
#include "analysis/source_lines.hpp"
#include "analysis/suppression.hpp"
#include "internal_fault.hpp"
#include "syntax/file_index.hpp"
#include "syntax/function_entry.hpp"
#include "syntax/node_text.hpp"
#include "syntax/python_grammar.hpp"
#include "syntax/tree_sitter_handles.hpp"

namespace keyhound {
namespace {

constexpr std::string_view kKeyError = "KeyError";

Parser make_python_parser() {
  Parser parser(ts_parser_new());
  const TSLanguage* language = python_grammar().language;
  if (!ts_parser_set_language(parser.get(), language)) {
    throw InternalFault(
        "Error loading Python grammar: incompatible language version " +
        std::to_string(ts_language_version(language)) + ". Expected minimum " +
        std::to_string(TREE_SITTER_MIN_COMPATIBLE_LANGUAGE_VERSION) + ", maximum " +
        std::to_string(TREE_SITTER_LANGUAGE_VERSION));
  }
  return parser;
}

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
  constexpr std::size_t kLongest = 200;
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
void sort_into_report_order(std::vector<EntryFacts>& facts) {
  std::sort(facts.begin(), facts.end() - 1, [](const EntryFacts& a, const EntryFacts& b) {
    uint32_t a_end = ts_node_end_byte(a.entry->node);
    uint32_t b_end = ts_node_end_byte(b.entry->node);
    if (a_end != b_end) return a_end < b_end;
    return ts_node_start_byte(a.entry->node) > ts_node_start_byte(b.entry->node);
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

// Visits the entries in order and records each finding and summary as it
// is found, in the order the report shows them.
void report(std::vector<EntryFacts>& entries, const FileIndex& index,
            const std::vector<std::size_t>& callee_of, std::string_view source,
            const Suppressions& suppressions, std::vector<Finding>& findings) {
  // The lines are needed only once something is found.
  std::optional<std::vector<std::string_view>> lines;
  auto all_lines = [&]() -> const std::vector<std::string_view>& {
    if (!lines) lines = source_lines(source);
    return *lines;
  };
  auto line_of = [&](Position start) { return std::string(line_at(all_lines(), start.row)); };
  // Starts and ends move separately: nested nodes start on many rows but
  // may all end on one.
  std::optional<CodePointColumns> start_columns;
  std::optional<CodePointColumns> end_columns;
  auto start_of = [&](TSNode node) {
    if (!start_columns) start_columns.emplace(all_lines());
    return start_columns->at(ts_node_start_point(node));
  };
  auto end_of = [&](TSNode node) {
    if (!end_columns) end_columns.emplace(all_lines());
    return end_columns->at(ts_node_end_point(node));
  };
  std::unordered_set<ReportedCall, ReportedCallHash> reported_calls;
  for (EntryFacts& facts : entries) {
    const bool is_module = facts.name == kModuleEntryName;
    bool function_has_issues = false;
    for (std::size_t a = facts.accesses_begin; a < facts.accesses_end; ++a) {
      TSNode access = index.accesses[a];
      // The module entry's accesses make it a function with issues, but
      // each one inside a function is already recorded under it: the module
      // keeps only those outside every function.
      if (!is_module || !index.access_in_function[a]) {
        Position start = start_of(access);
        Position end = end_of(access);
        findings.emplace_back(AccessFinding{.function = std::string(facts.name),
                                            .start = start,
                                            .end = end,
                                            .source_line = line_of(start),
                                            .source_text = token_text(access, source),
                                            .comment_row = suppressions.comment_row(end.row)});
      }
      function_has_issues = true;
    }
    if (facts.accesses_end > facts.accesses_begin) facts.entry->accesses_reported = true;

    for (std::size_t k = facts.calls_begin; k < facts.calls_end; ++k) {
      const IndexedCall& call = index.calls[k];
      if (callee_of[k] == kNoEntry) continue;
      const FunctionEntry& callee = *entries[callee_of[k]].entry;
      if (callee.may_raise.empty() || call.guarded) continue;
      ReportedCall key{uint64_t{ts_node_start_point(call.node).row} + 1, call.name};
      if (reported_calls.contains(key) || callee.accesses_reported) continue;
      reported_calls.insert(key);
      Position start = start_of(call.node);
      Position end = end_of(call.node);
      TSNode origin = index.accesses[entries[callee_of[k]].origin_access];
      findings.emplace_back(CallFinding{
          .function = std::string(facts.name),
          .callee = std::string(call.name),
          .exceptions = std::vector<std::string>(callee.may_raise.begin(), callee.may_raise.end()),
          .start = start,
          .end = end,
          .source_line = line_of(start),
          .source_text = token_text(call.node, source),
          .origin = Origin{start_of(origin)},
          .comment_row = suppressions.comment_row(end.row)});
      function_has_issues = true;
    }

    if (function_has_issues) findings.emplace_back(FunctionSummary{std::string(facts.name)});
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

// Takes the suppressed lookups out of the index and marks the suppressed
// calls guarded, keeping every definition's slices right.
void drop_suppressed(FileIndex& index, const Suppressions& suppressions) {
  auto rows = [](TSNode node) {
    return std::make_pair(ts_node_start_point(node).row, ts_node_end_point(node).row);
  };
  std::vector<std::size_t> kept_before(index.accesses.size() + 1, 0);
  std::size_t kept = 0;
  for (std::size_t a = 0; a < index.accesses.size(); ++a) {
    kept_before[a] = kept;
    auto [first, last] = rows(index.accesses[a]);
    if (suppressions.suppresses(kAccessCode, first, last)) continue;
    index.accesses[kept] = index.accesses[a];
    index.access_in_function[kept] = index.access_in_function[a];
    ++kept;
  }
  kept_before[index.accesses.size()] = kept;
  index.accesses.resize(kept);
  index.access_in_function.resize(kept);
  for (DefinitionSpan& span : index.definitions) {
    span.accesses_begin = kept_before[span.accesses_begin];
    span.accesses_end = kept_before[span.accesses_end];
  }
  for (IndexedCall& call : index.calls) {
    auto [first, last] = rows(call.node);
    if (!call.guarded && suppressions.suppresses(kCallCode, first, last)) call.guarded = true;
  }
}

}  // namespace

FileReport analyze_file(std::string_view path, std::string_view source,
                        const AnalysisOptions& options) {
  if (source.size() > std::numeric_limits<uint32_t>::max()) {
    throw InternalFault("source text larger than 4 GiB");
  }
  Parser parser = make_python_parser();
  Tree tree(ts_parser_parse_string(parser.get(), nullptr, source.data(),
                                   static_cast<uint32_t>(source.size())));
  if (!tree) throw InternalFault("Error parsing Python source: the parser returned no tree");
  TSNode root = ts_tree_root_node(tree.get());

  FileIndex index = index_file(root, source);
  const Suppressions suppressions(
      options.honour_suppressions ? comment_tokens(index, source) : std::vector<CommentToken>{},
      index.joined_rows);
  if (options.honour_suppressions) drop_suppressed(index, suppressions);
  FunctionTable table;
  std::vector<EntryFacts> entries = fill_function_table(index, root, table);
  const std::vector<std::size_t> callee_of = resolve_callees(entries, index);
  propagate(entries, index, callee_of);

  FileReport file{.path = std::string(path), .findings = {}, .outcome = {}};
  report(entries, index, callee_of, source, suppressions, file.findings);
  if (!file.findings.empty()) {
    file.outcome = FileOutcome{FileStatus::HasFindings, file_issues_message(path)};
  }
  return file;
}

}  // namespace keyhound
