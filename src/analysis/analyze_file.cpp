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
#include "analysis/report.hpp"
#include "analysis/source_lines.hpp"
#include "internal_fault.hpp"
#include "syntax/function_collection.hpp"
#include "syntax/function_entry.hpp"
#include "syntax/keyerror_guard.hpp"
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

Position start_of(TSNode node) {
  TSPoint point = ts_node_start_point(node);
  return {point.row, point.column};
}

Position end_of(TSNode node) {
  TSPoint point = ts_node_end_point(node);
  return {point.row, point.column};
}

// What the walks found beneath one entry's node, computed once and used by
// the propagation and the report pass alike.
struct EntryFacts {
  std::string_view name;
  FunctionEntry* entry = nullptr;
  std::vector<TSNode> accesses;
  std::vector<FunctionCall> calls;
  // For each call, the index of the entry its callee names, if any.
  std::vector<std::optional<std::size_t>> callee_index;
};

// Function entries in the order their definitions end (a nested function
// before the one around it, siblings in source order), the module entry
// last. The same order every run, unlike the table's own.
std::vector<EntryFacts> entries_in_report_order(FunctionTable& table) {
  std::vector<EntryFacts> facts;
  facts.reserve(table.size());
  EntryFacts module;
  for (auto& [name, entry] : table) {
    EntryFacts item;
    item.name = name;
    item.entry = &entry;
    if (name == kModuleEntryName) {
      module = std::move(item);
    } else {
      facts.push_back(std::move(item));
    }
  }
  std::sort(facts.begin(), facts.end(), [](const EntryFacts& a, const EntryFacts& b) {
    uint32_t a_end = ts_node_end_byte(a.entry->node);
    uint32_t b_end = ts_node_end_byte(b.entry->node);
    if (a_end != b_end) return a_end < b_end;
    return ts_node_start_byte(a.entry->node) > ts_node_start_byte(b.entry->node);
  });
  facts.push_back(std::move(module));
  return facts;
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

}  // namespace

std::expected<void, std::string> analyze_file(std::string_view path, std::string_view source) {
  if (source.size() > std::numeric_limits<uint32_t>::max()) {
    throw InternalFault("source text larger than 4 GiB");
  }
  Parser parser = make_python_parser();
  Tree tree(ts_parser_parse_string(parser.get(), nullptr, source.data(),
                                   static_cast<uint32_t>(source.size())));
  if (!tree) throw InternalFault("Error parsing Python source: the parser returned no tree");
  TSNode root = ts_tree_root_node(tree.get());

  FunctionTable table;
  collect_functions(root, table, source);
  table.insert_or_assign(std::string(kModuleEntryName), FunctionEntry{.may_raise = {}, .node = root, .accesses_reported = false});

  std::vector<EntryFacts> entries = entries_in_report_order(table);
  std::unordered_map<std::string_view, std::size_t> index_of;
  index_of.reserve(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) index_of.emplace(entries[i].name, i);

  std::vector<CallGraphNode> graph(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EntryFacts& facts = entries[i];
    find_unguarded_dict_accesses(facts.entry->node, facts.accesses, source);
    collect_function_calls(facts.entry->node, facts.calls, source);
    facts.callee_index.reserve(facts.calls.size());
    graph[i].has_unguarded_access = !facts.accesses.empty();
    for (const FunctionCall& call : facts.calls) {
      auto found = index_of.find(call.name);
      std::optional<std::size_t> callee;
      if (found != index_of.end()) callee = found->second;
      facts.callee_index.push_back(callee);
      if (callee && !call.guarded) graph[i].unguarded_callees.push_back(*callee);
    }
  }
  std::vector<bool> raises = propagate_keyerror(graph);
  graph.clear();
  graph.shrink_to_fit();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (raises[i]) entries[i].entry->may_raise.emplace(kKeyError);
  }

  // Report pass. The excerpt lines are needed only once something is shown.
  std::optional<std::vector<std::string_view>> lines;
  auto source_lines_once = [&]() -> const std::vector<std::string_view>& {
    if (!lines) lines = source_lines(source);
    return *lines;
  };
  std::unordered_set<ReportedCall, ReportedCallHash> reported_calls;
  bool file_has_issues = false;
  for (EntryFacts& facts : entries) {
    const bool is_module = facts.name == kModuleEntryName;
    bool function_has_issues = false;
    for (TSNode access : facts.accesses) {
      // Module-level accesses make the module a function with issues, but
      // each one is already shown under the function that holds it, if any.
      if (!is_module) {
        print_access_warning(path, facts.name, start_of(access), end_of(access),
                             source_lines_once());
      }
      function_has_issues = true;
    }
    if (!facts.accesses.empty()) facts.entry->accesses_reported = true;

    for (std::size_t k = 0; k < facts.calls.size(); ++k) {
      const FunctionCall& call = facts.calls[k];
      if (!facts.callee_index[k]) continue;
      const FunctionEntry& callee = *entries[*facts.callee_index[k]].entry;
      if (callee.may_raise.empty() || call.guarded) continue;
      ReportedCall key{uint64_t{ts_node_start_point(call.node).row} + 1, call.name};
      if (reported_calls.contains(key) || callee.accesses_reported) continue;
      reported_calls.insert(key);
      print_call_warning(path, facts.name, call.name, callee.may_raise, start_of(call.node),
                         end_of(call.node), source_lines_once());
      function_has_issues = true;
    }

    if (function_has_issues) {
      print_function_summary(facts.name);
      file_has_issues = true;
    }
  }

  if (file_has_issues) return std::unexpected(file_issues_message(path));
  return {};
}

}  // namespace keyhound
