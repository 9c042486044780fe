#include "syntax/file_index.hpp"

#include <cstdint>

#include "base/internal_fault.hpp"
#include "syntax/guard_tracker.hpp"
#include "syntax/node_text.hpp"
#include "syntax/preorder_walk.hpp"
#include "syntax/python_grammar.hpp"
#include "base/utf8.hpp"

namespace keyhound {

std::string_view function_name(TSNode definition, std::string_view source) {
  TSNode name = ts_node_child_by_field_id(definition, python_grammar().name_field);
  if (ts_node_is_null(name)) throw InternalFault("function definition without a name");
  std::string_view text = node_text(name, source);
  if (!is_valid_utf8(text)) throw InternalFault("function name is not valid UTF-8");
  return text;
}

IndexSizes sizes_of(const FileIndex& index) {
  return {index.accesses.size(), index.calls.size(), index.definitions.size(),
          index.comments.size(), index.joined_rows.size()};
}

FileIndex index_file(TSNode start, std::string_view source, WalkObserver* observer,
                     GuardRule rule, StatementSkipper* skipper) {
  const PythonGrammar& grammar = python_grammar();
  FileIndex index;
  GuardTracker guards(start, source, rule);
  struct OpenDefinition {
    std::size_t span;
    uint32_t depth;
  };
  std::vector<OpenDefinition> open_definitions;
  if (skipper != nullptr && !ts_node_is_null(ts_node_parent(start))) skipper = nullptr;
  // The top-level statement being walked, and the index's sizes before it.
  TSNode statement{};
  IndexSizes before_statement;
  bool statement_skipped = false;

  walk_preorder_with_cursor(
      start,
      [&](TSNode node, uint32_t depth, const TreeCursor& cursor) {
        if (depth == 1 && skipper != nullptr) {
          if (skipper->skip(node, index)) {
            statement_skipped = true;
            return false;
          }
          statement = node;
          before_statement = sizes_of(index);
        }
        TSSymbol kind = ts_node_symbol(node);
        if (observer != nullptr) observer->enter(node, kind, cursor.field_id(), depth);
        bool guarded = guards.enter(node, kind, depth);
        if (kind == grammar.subscript) {
          if (!guarded) {
            index.accesses.push_back(node);
            index.access_in_function.push_back(!open_definitions.empty());
            index.access_owner.push_back(open_definitions.empty() ? kNoDefinition
                                                                  : open_definitions.back().span);
          }
        } else if (kind == grammar.call) {
          TSNode callee = ts_node_child_by_field_id(node, grammar.function_field);
          if (!ts_node_is_null(callee)) {
            index.calls.push_back({node_text(callee, source), node, guarded,
                                   open_definitions.empty() ? kNoDefinition
                                                            : open_definitions.back().span});
          }
        } else if (kind == grammar.comment) {
          index.comments.push_back(node);
        } else if (kind == grammar.string || kind == grammar.line_continuation) {
          uint32_t first = ts_node_start_point(node).row;
          // A continuation joins its row to the next; a string the rows it spans.
          uint32_t last = kind == grammar.string ? ts_node_end_point(node).row : first + 1;
          if (last > first) index.joined_rows.emplace_back(first, last);
        } else if (kind == grammar.function_definition) {
          open_definitions.push_back({index.definitions.size(), depth});
          index.definitions.push_back({node, function_name(node, source), index.accesses.size(),
                                       0, index.calls.size(), 0});
        }
        return true;
      },
      [&](uint32_t depth) {
        if (depth == 1 && statement_skipped) {
          statement_skipped = false;
          return;
        }
        if (observer != nullptr) observer->leave(depth);
        guards.leave(depth);
        if (!open_definitions.empty() && open_definitions.back().depth == depth) {
          DefinitionSpan& span = index.definitions[open_definitions.back().span];
          span.accesses_end = index.accesses.size();
          span.calls_end = index.calls.size();
          open_definitions.pop_back();
        }
        if (depth == 1 && skipper != nullptr) skipper->walked(statement, index, before_statement);
      });
  return index;
}

}  // namespace keyhound
