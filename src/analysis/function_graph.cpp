#include "base/id_map.hpp"
#include "analysis/function_graph.hpp"

#include <algorithm>
#include <string>
#include <unordered_map>

#include "analysis/propagation.hpp"
#include "syntax/module_entry.hpp"
#include "syntax/node_positions.hpp"

namespace keyhound {
namespace {

constexpr std::string_view kKeyError = "KeyError";

// Function entries in the order their definitions end (a nested function
// before the one around it, siblings in source order), the module entry
// last. The same order every run, unlike the table's own.
void sort_into_report_order(std::vector<EntryFacts>& facts) {
  sort_in_report_order(facts.begin(), facts.end() - 1,
                       [](const EntryFacts& facts) { return facts.entry->node; });
}

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

// A call relates to a function only when its callee text is the name itself.
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
    entries[i].entry->may_let_escape(kKeyError);
    // The first unguarded access of the entry the KeyError comes from.
    entries[i].origin_access = entries[sources[i]].accesses_begin;
  }
}

}  // namespace

FunctionGraph link_functions(const FileIndex& index, TSNode root, FunctionTable& table) {
  FunctionGraph graph;
  graph.entries = fill_function_table(index, root, table);
  graph.callee_of = resolve_callees(graph.entries, index);
  propagate(graph.entries, index, graph.callee_of);
  return graph;
}

FunctionGraph link_definitions(const FileIndex& index, TSNode root,
                               const IdMap<const void*>& call_targets,
                               const IdSet& deferred) {
  FunctionGraph graph;
  const std::size_t module = index.definitions.size();
  IdMap<std::size_t> definition_of;
  definition_of.reserve(module);
  for (std::size_t d = 0; d < module; ++d) {
    const DefinitionSpan& span = index.definitions[d];
    definition_of.emplace(span.node.id, d);
    graph.own_entries.push_back(FunctionEntry{.may_raise = {}, .node = span.node, .accesses_reported = false});
    graph.entries.push_back(EntryFacts{span.name, &graph.own_entries.back(), span.accesses_begin,
                                       span.accesses_end, span.calls_begin, span.calls_end});
  }
  graph.own_entries.push_back(FunctionEntry{.may_raise = {}, .node = root, .accesses_reported = false});
  graph.entries.push_back(EntryFacts{kModuleEntryName, &graph.own_entries.back(), 0,
                                     index.accesses.size(), 0, index.calls.size()});

  auto owner_of = [&](std::size_t owner) { return owner == kNoDefinition ? module : owner; };
  std::vector<char> has_unguarded_access(module + 1, 0);
  std::vector<CallEdge> unguarded_calls;
  unguarded_calls.reserve(index.calls.size());
  std::vector<std::size_t> first_access(module + 1, kNoEntry);
  for (std::size_t a = 0; a < index.accesses.size(); ++a) {
    if (deferred.contains(index.accesses[a].id)) continue;
    std::size_t owner = owner_of(index.access_owner[a]);
    has_unguarded_access[owner] = 1;
    if (first_access[owner] == kNoEntry) first_access[owner] = a;
  }
  graph.callee_of.assign(index.calls.size(), kNoEntry);
  for (std::size_t k = 0; k < index.calls.size(); ++k) {
    const IndexedCall& call = index.calls[k];
    auto target = call_targets.find(call.node.id);
    if (target == call_targets.end()) continue;
    auto definition = definition_of.find(target->second);
    if (definition == definition_of.end()) continue;
    graph.callee_of[k] = definition->second;
    if (!call.guarded && !deferred.contains(call.node.id)) {
      unguarded_calls.push_back({owner_of(call.owner), definition->second});
    }
  }
  std::vector<std::size_t> sources = keyerror_sources(has_unguarded_access, unguarded_calls);
  for (std::size_t i = 0; i <= module; ++i) {
    if (sources[i] == kNoSource) continue;
    graph.entries[i].entry->may_let_escape(kKeyError);
    graph.entries[i].origin_access = first_access[sources[i]];
  }
  return graph;
}

}  // namespace keyhound
