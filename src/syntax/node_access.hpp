#pragma once

#include <tree_sitter/api.h>

#include <cstdint>

namespace keyhound {

// What the rules read of a node, in the rooms above syntax: its kind, its
// children and its extent. Trees, parsers and cursors stay in syntax.
inline TSSymbol node_kind(TSNode node) { return ts_node_symbol(node); }
inline bool is_null(TSNode node) { return ts_node_is_null(node); }
inline TSNode field_child(TSNode node, TSFieldId field) {
  return ts_node_child_by_field_id(node, field);
}
inline uint32_t named_child_count(TSNode node) { return ts_node_named_child_count(node); }
inline TSNode named_child(TSNode node, uint32_t index) { return ts_node_named_child(node, index); }
inline uint32_t start_byte(TSNode node) { return ts_node_start_byte(node); }
inline uint32_t end_byte(TSNode node) { return ts_node_end_byte(node); }
inline bool is_error(TSNode node) { return ts_node_is_error(node); }
inline bool is_missing(TSNode node) { return ts_node_is_missing(node); }
inline bool has_error(TSNode node) { return ts_node_has_error(node); }
inline bool is_named(TSNode node) { return ts_node_is_named(node); }

}  // namespace keyhound
