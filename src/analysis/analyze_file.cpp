#include "analysis/analyze_file.hpp"

#include <algorithm>
#include <cstdio>
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

// A point of the tree with its column also counted in code points, which
// needs the text of its row.
Position position_at(TSPoint point, const std::vector<std::string_view>& lines) {
  std::string_view line = line_at(lines, point.row);
  uint32_t code_points = 0;
  std::size_t bytes = std::min<std::size_t>(point.column, line.size());
  for (std::size_t i = 0; i < bytes; ++i) {
    // Every byte but a continuation byte starts a code point.
    if ((static_cast<unsigned char>(line[i]) & 0xC0) != 0x80) ++code_points;
  }
  // A column past the line's end (a node ending at a line feed) counts on.
  if (point.column > line.size()) code_points += static_cast<uint32_t>(point.column - line.size());
  return {point.row, point.column, code_points};
}

// The node's text with white space runs made one blank; a long text keeps
// its start and a hash of the whole, so that the key stays small.
std::string collapsed_text(TSNode node, std::string_view source) {
  constexpr std::size_t kLongest = 200;
  std::string_view text = node_text(node, source);
  std::string collapsed;
  bool blank = false;
  uint64_t hash = 14695981039346656037ULL;
  for (char c : text) {
    bool is_blank = c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
    if (is_blank) {
      blank = !collapsed.empty();
      continue;
    }
    if (blank) {
      collapsed += ' ';
      hash = (hash ^ ' ') * 1099511628211ULL;
      blank = false;
    }
    collapsed += c;
    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  }
  if (collapsed.size() <= kLongest) return collapsed;
  char suffix[24];
  std::snprintf(suffix, sizeof suffix, "...#%016llx", static_cast<unsigned long long>(hash));
  collapsed.resize(kLongest);
  // Never end inside a UTF-8 sequence.
  while (!collapsed.empty() && (static_cast<unsigned char>(collapsed.back()) & 0xC0) == 0x80) {
    collapsed.pop_back();
  }
  if (!collapsed.empty() && static_cast<unsigned char>(collapsed.back()) >= 0xC0) collapsed.pop_back();
  return collapsed + suffix;
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
            std::vector<Finding>& findings) {
  // The lines are needed only once something is found.
  std::optional<std::vector<std::string_view>> lines;
  auto all_lines = [&]() -> const std::vector<std::string_view>& {
    if (!lines) lines = source_lines(source);
    return *lines;
  };
  auto line_of = [&](Position start) { return std::string(line_at(all_lines(), start.row)); };
  auto start_of = [&](TSNode node) { return position_at(ts_node_start_point(node), all_lines()); };
  auto end_of = [&](TSNode node) { return position_at(ts_node_end_point(node), all_lines()); };
  std::unordered_set<ReportedCall, ReportedCallHash> reported_calls;
  for (EntryFacts& facts : entries) {
    const bool is_module = facts.name == kModuleEntryName;
    bool function_has_issues = false;
    for (std::size_t a = facts.accesses_begin; a < facts.accesses_end; ++a) {
      TSNode access = index.accesses[a];
      // Module-level accesses make the module a function with issues, but
      // each one is already shown under the function that holds it, if any.
      if (!is_module) {
        Position start = start_of(access);
        findings.emplace_back(AccessFinding{.function = std::string(facts.name),
                                            .start = start,
                                            .end = end_of(access),
                                            .source_line = line_of(start),
                                            .source_text = collapsed_text(access, source)});
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
      TSNode origin = index.accesses[entries[callee_of[k]].origin_access];
      findings.emplace_back(CallFinding{
          .function = std::string(facts.name),
          .callee = std::string(call.name),
          .exceptions = std::vector<std::string>(callee.may_raise.begin(), callee.may_raise.end()),
          .start = start,
          .end = end_of(call.node),
          .source_line = line_of(start),
          .source_text = collapsed_text(call.node, source),
          .origin = Origin{start_of(origin)}});
      function_has_issues = true;
    }

    if (function_has_issues) findings.emplace_back(FunctionSummary{std::string(facts.name)});
  }
}

}  // namespace

FileReport analyze_file(std::string_view path, std::string_view source) {
  if (source.size() > std::numeric_limits<uint32_t>::max()) {
    throw InternalFault("source text larger than 4 GiB");
  }
  Parser parser = make_python_parser();
  Tree tree(ts_parser_parse_string(parser.get(), nullptr, source.data(),
                                   static_cast<uint32_t>(source.size())));
  if (!tree) throw InternalFault("Error parsing Python source: the parser returned no tree");
  TSNode root = ts_tree_root_node(tree.get());

  const FileIndex index = index_file(root, source);
  FunctionTable table;
  std::vector<EntryFacts> entries = fill_function_table(index, root, table);
  const std::vector<std::size_t> callee_of = resolve_callees(entries, index);
  propagate(entries, index, callee_of);

  FileReport file{.path = std::string(path), .findings = {}, .outcome = {}};
  report(entries, index, callee_of, source, file.findings);
  if (!file.findings.empty()) {
    file.outcome = FileOutcome{FileStatus::HasFindings, file_issues_message(path)};
  }
  return file;
}

}  // namespace keyhound
