#pragma once

#include <tree_sitter/api.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "rules/precise_kinds.hpp"

namespace keyhound {

// The nodes of a file that change what holds on a path, in a tree of their
// own kept during the one walk: statements and the expressions that branch,
// bind, look up or call, each under its nearest such ancestor, and every
// named child of the nodes whose parts run in an order of their own (the
// condition of an `if`, the target of an assignment). The flow graphs are
// built from it in the order the code runs, which is not always the order
// it is written in (`x if c else y`, `[x for x in xs]`, `d[k] = v`).
struct OutlineNode {
  TSNode node;
  TSSymbol kind;
  TSFieldId field;
  uint32_t first_child = kNone;
  uint32_t last_child = kNone;
  uint32_t next_sibling = kNone;
  // One past the last node of its subtree: the outline is in pre-order.
  uint32_t subtree_end = kNone;
  // Where the node's text ends, read while the walk is at it rather than
  // from the tree again later.
  uint32_t byte_end = 0;

  static constexpr uint32_t kNone = std::numeric_limits<uint32_t>::max();
};

// The nodes one top-level statement added to an outline, kept to be added
// again: links count from the part's first node, and the nodes whose
// parent is the module are the part's first and its siblings.
struct ScopeShape;
struct OutlinePart {
  std::vector<OutlineNode> nodes;
  // The shape of each scope whose definition is one of `nodes` (by its
  // place in them), worked out once, when a later analysis that added the
  // part first asked for it: the same text and outline wherever the part
  // is added.
  mutable std::unordered_map<uint32_t, std::shared_ptr<const ScopeShape>> scope_shapes;
};

class StatementMove;

class SyntaxOutline {
 public:
  explicit SyntaxOutline(const PreciseKinds& kinds);

  void enter(TSNode node, TSSymbol kind, TSFieldId field, uint32_t depth);
  void reserve(std::size_t nodes) { nodes_.reserve(nodes); }
  void leave(uint32_t depth);
  // Closes what the walk left open.
  void finish();

  // Node 0 is the root (the module), once the walk has begun.
  const std::vector<OutlineNode>& nodes() const { return nodes_; }
  const OutlineNode& operator[](uint32_t index) const { return nodes_[index]; }
  // The child of `parent` in `field`, or kNone.
  uint32_t child(uint32_t parent, TSFieldId field) const;

  // Between top-level statements: the nodes from `begin` on, and a part
  // added as the walk of its statement would add it.
  OutlinePart part_since(uint32_t begin) const;
  void add_part(const OutlinePart& part, const StatementMove& move);
  // The part added that holds node `index`, and the node's place in it;
  // nullptr for a node the walk added.
  std::pair<const OutlinePart*, uint32_t> part_holding(uint32_t index) const;

 private:
  enum Role : uint8_t { kKept = 1, kKeepsChildren = 2 };
  // The error node's kind lies beyond the grammar's table.
  uint8_t role_of(TSSymbol kind) const { return kind < roles_.size() ? roles_[kind] : 0; }
  std::vector<uint8_t> roles_;
  std::vector<OutlineNode> nodes_;
  // Each part added and the index of its first node, in the order added.
  std::vector<std::pair<uint32_t, const OutlinePart*>> added_parts_;
  // (depth, index) of the kept nodes open in the walk.
  std::vector<std::pair<uint32_t, uint32_t>> open_;

  void close_last();
};

}  // namespace keyhound
