#pragma once

#include <tree_sitter/api.h>

#include "syntax/keyerror_guard.hpp"

#include <cstddef>
#include <cstdint>
#include <utility>
#include <string_view>
#include <vector>

namespace keyhound {

// A call as the index keeps it: the callee text is a view into the source.
struct IndexedCall {
  std::string_view name;
  TSNode node;
  bool guarded;
  // The innermost definition holding the call (an index into
  // `definitions`), or kNoDefinition at module level.
  std::size_t owner;
};

inline constexpr std::size_t kNoDefinition = static_cast<std::size_t>(-1);

// One "function_definition" and the slices of the index's lists that lie
// inside it. Its subtree is one stretch of the pre-order walk, so what
// `find_unguarded_dict_accesses` and `collect_function_calls` would find
// from its node is exactly these slices.
struct DefinitionSpan {
  TSNode node;
  std::string_view name;
  std::size_t accesses_begin;
  std::size_t accesses_end;
  std::size_t calls_begin;
  std::size_t calls_end;
};

// Everything the analysis needs from a file's tree, gathered in one walk
// from the root instead of one walk per function. Started on any other node,
// it indexes that node's subtree, with the guards above it taken into
// account.
struct FileIndex {
  // Subscripts no guard encloses, in pre-order.
  std::vector<TSNode> accesses;
  // For each access: whether a function definition encloses it, and the
  // innermost one that does (or kNoDefinition).
  std::vector<bool> access_in_function;
  std::vector<std::size_t> access_owner;
  // Every call with a callee, in pre-order, with its guard status.
  std::vector<IndexedCall> calls;
  // Every function definition, in pre-order (by start in the file).
  std::vector<DefinitionSpan> definitions;
  // Every comment token, in pre-order.
  std::vector<TSNode> comments;
  // Rows that the text joins into one logical line, as inclusive [first,
  // last] pairs: a string that spans rows, and each backslash continuation
  // with the row after it. Such rows cannot each carry a comment.
  std::vector<std::pair<uint32_t, uint32_t>> joined_rows;
};

// Sees every node of the index's walk as well, for analyses that need the
// same walk (precise mode): nodes in pre-order with their kind, the field
// they stand in (0 for none) and their depth; leave() when the node at a
// depth and all beneath it are done.
class WalkObserver {
 public:
  virtual ~WalkObserver() = default;
  virtual void enter(TSNode node, TSSymbol kind, TSFieldId field, uint32_t depth) = 0;
  virtual void leave(uint32_t depth) = 0;
};

// How long the index's lists were when the walk of a statement began.
struct IndexSizes {
  std::size_t accesses = 0;
  std::size_t calls = 0;
  std::size_t definitions = 0;
  std::size_t comments = 0;
  std::size_t joined_rows = 0;
};

IndexSizes sizes_of(const FileIndex& index);

// Lets the walk of a root pass over a top-level statement whose outcome an
// earlier walk left: neither the index nor the observer sees its nodes.
class StatementSkipper {
 public:
  virtual ~StatementSkipper() = default;
  // A child of the root, about to be walked: true when the skipper added
  // the statement's part to the index (and to what else watches the walk)
  // itself.
  virtual bool skip(TSNode statement, FileIndex& index) = 0;
  // A child of the root that was walked; the index's lists were `before`
  // long when it began.
  virtual void walked(TSNode statement, const FileIndex& index, const IndexSizes& before) = 0;
};

// The index of the tree under `start`: lookups and calls not guarded under
// `rule`, definitions, comments, joined rows. A skipper is asked about the
// start's children only when the start is a root (nothing guards it).
FileIndex index_file(TSNode start, std::string_view source, WalkObserver* observer = nullptr,
                     GuardRule rule = GuardRule::AnyCatcher,
                     StatementSkipper* skipper = nullptr);

// The name of a "function_definition"; an internal fault when the tree
// gives it none or its text is not UTF-8.
std::string_view function_name(TSNode definition, std::string_view source);

}  // namespace keyhound
