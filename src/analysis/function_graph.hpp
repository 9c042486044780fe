#pragma once

#include <tree_sitter/api.h>

#include <cstddef>
#include <deque>
#include <unordered_map>
#include <unordered_set>
#include <limits>
#include <string_view>
#include <vector>

#include "base/id_map.hpp"
#include "syntax/file_index.hpp"
#include "syntax/function_entry.hpp"

namespace keyhound {

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

inline constexpr std::size_t kNoEntry = std::numeric_limits<std::size_t>::max();

// The file's functions, how its calls name them, and which may raise.
struct FunctionGraph {
  // In report order: definitions by where they end, the module entry last
  // (precise mode: definitions in walk order, the module entry last).
  std::vector<EntryFacts> entries;
  // Precise mode's entries, one per definition, which no name table holds.
  std::deque<FunctionEntry> own_entries;
  // For each call of the index, the entry its callee names, or kNoEntry.
  std::vector<std::size_t> callee_of;
};

// Fills `table` as collect_functions does (every definition in walk order,
// a later one of a name replacing the earlier), adds the module entry, and
// gives "KeyError" to every entry from which an unguarded access can be
// reached through unguarded bare-name calls.
FunctionGraph link_functions(const FileIndex& index, TSNode root, FunctionTable& table);

// Precise mode: one entry per definition, each call linked to the
// definition its scopes resolve it to (`call_targets`, by node ids), and a
// definition may raise only through the code that runs when it is called:
// its own lookups and calls, not those of the functions and lambdas
// (`deferred`) defined in it.
FunctionGraph link_definitions(const FileIndex& index, TSNode root,
                               const IdMap<const void*>& call_targets,
                               const IdSet& deferred);

}  // namespace keyhound
