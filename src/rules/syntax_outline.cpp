#include "rules/syntax_outline.hpp"

#include <algorithm>
#include <iterator>

#include "base/internal_fault.hpp"
#include "syntax/node_access.hpp"
#include "syntax/statement_move.hpp"
#include "syntax/python_grammar.hpp"

namespace keyhound {

SyntaxOutline::SyntaxOutline(const PreciseKinds& k) : roles_(grammar_symbol_count(), 0) {
  auto role = [&](TSSymbol kind, uint8_t bits) {
    if (kind < roles_.size()) roles_[kind] |= bits;
  };
  // Kept, with their children in their own order.
  for (TSSymbol kind :
       {k.module, k.block, k.if_statement, k.elif_clause, k.else_clause, k.while_statement,
        k.for_statement, k.try_statement, k.except_clause, k.except_group_clause,
        k.finally_clause, k.with_statement, k.with_clause, k.with_item, k.match_statement,
        k.case_clause, k.assert_statement, k.assignment, k.augmented_assignment,
        k.delete_statement, k.function_definition, k.class_definition,
        k.decorated_definition, k.lambda, k.list_comprehension, k.set_comprehension,
        k.dictionary_comprehension, k.generator_expression, k.for_in_clause, k.if_clause,
        k.boolean_operator, k.not_operator, k.conditional_expression, k.named_expression,
        k.parenthesized_expression, k.return_statement, k.raise_statement}) {
    role(kind, kKept | kKeepsChildren);
  }
  // Kept alone: what they contain runs in the order it is written.
  for (TSSymbol kind : {k.break_statement, k.continue_statement, k.global_statement,
                        k.nonlocal_statement, k.import_statement, k.import_from_statement,
                        k.subscript, k.call}) {
    role(kind, kKept);
  }
}

void SyntaxOutline::close_last() {
  nodes_[open_.back().second].subtree_end = static_cast<uint32_t>(nodes_.size());
  open_.pop_back();
}

void SyntaxOutline::enter(TSNode node, TSSymbol kind, TSFieldId field, uint32_t depth) {
  while (!open_.empty() && open_.back().first >= depth) close_last();
  uint8_t role = role_of(kind);
  bool parent_keeps_children = !open_.empty() && open_.back().first + 1 == depth &&
                               (role_of(nodes_[open_.back().second].kind) & kKeepsChildren) != 0 &&
                               is_named(node);
  if (role == 0 && !parent_keeps_children && !nodes_.empty()) return;
  uint32_t index = static_cast<uint32_t>(nodes_.size());
  nodes_.push_back(OutlineNode{node, kind, field});
  nodes_.back().byte_end = end_byte(node);
  if (!open_.empty()) {
    OutlineNode& parent = nodes_[open_.back().second];
    if (parent.last_child == OutlineNode::kNone) {
      parent.first_child = index;
    } else {
      nodes_[parent.last_child].next_sibling = index;
    }
    parent.last_child = index;
  }
  open_.emplace_back(depth, index);
}

void SyntaxOutline::leave(uint32_t depth) {
  if (!open_.empty() && open_.back().first == depth) close_last();
}

void SyntaxOutline::finish() {
  while (!open_.empty()) close_last();
}

namespace {

constexpr uint32_t kNoNode = OutlineNode::kNone;

uint32_t shifted(uint32_t index, int64_t by) {
  return index == kNoNode ? kNoNode : static_cast<uint32_t>(index + by);
}

void shift_links(OutlineNode& node, int64_t by) {
  node.first_child = shifted(node.first_child, by);
  node.last_child = shifted(node.last_child, by);
  node.next_sibling = shifted(node.next_sibling, by);
  node.subtree_end = shifted(node.subtree_end, by);
}

}  // namespace

OutlinePart SyntaxOutline::part_since(uint32_t begin) const {
  if (open_.size() != 1) throw InternalFault("an outline part taken inside a statement");
  OutlinePart part;
  part.nodes.assign(nodes_.begin() + begin, nodes_.end());
  for (OutlineNode& node : part.nodes) shift_links(node, -static_cast<int64_t>(begin));
  return part;
}

void SyntaxOutline::add_part(const OutlinePart& part, const StatementMove& move) {
  if (open_.size() != 1) throw InternalFault("an outline part added inside a statement");
  if (part.nodes.empty()) return;
  const auto base = static_cast<uint32_t>(nodes_.size());
  added_parts_.emplace_back(base, &part);
  nodes_.insert(nodes_.end(), part.nodes.begin(), part.nodes.end());
  for (auto node = nodes_.begin() + base; node != nodes_.end(); ++node) {
    node->node = move.node(node->node);
    node->byte_end = move.byte(node->byte_end);
    shift_links(*node, base);
  }
  // The part's nodes under the module follow the module's last child.
  OutlineNode& module = nodes_[open_.back().second];
  if (module.last_child == kNoNode) {
    module.first_child = base;
  } else {
    nodes_[module.last_child].next_sibling = base;
  }
  uint32_t last = base;
  while (nodes_[last].next_sibling != kNoNode) last = nodes_[last].next_sibling;
  module.last_child = last;
}

std::pair<const OutlinePart*, uint32_t> SyntaxOutline::part_holding(uint32_t index) const {
  auto after = std::upper_bound(
      added_parts_.begin(), added_parts_.end(), index,
      [](uint32_t wanted, const auto& added) { return wanted < added.first; });
  if (after == added_parts_.begin()) return {nullptr, 0};
  const auto& [base, part] = *std::prev(after);
  if (index - base >= part->nodes.size()) return {nullptr, 0};
  return {part, index - base};
}

uint32_t SyntaxOutline::child(uint32_t parent, TSFieldId field) const {
  for (uint32_t at = nodes_[parent].first_child; at != OutlineNode::kNone;
       at = nodes_[at].next_sibling) {
    if (nodes_[at].field == field) return at;
  }
  return OutlineNode::kNone;
}

}  // namespace keyhound
