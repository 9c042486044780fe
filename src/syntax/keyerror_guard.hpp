#pragma once

#include <tree_sitter/api.h>

#include <string_view>
#include <vector>

namespace keyhound {

// Which try statements guard what they enclose.
enum class GuardRule {
  // Any that has a handler catching KeyError (the module's rule).
  AnyCatcher,
  // Those whose first handler to catch a KeyError does not always re-raise
  // it: behind `except Exception: log(e); raise` the KeyError escapes.
  ReraiseEscapes,
};

// True when `clause` (an "except_clause") catches a KeyError: a bare
// `except:`, or an exception expression that names KeyError, LookupError,
// Exception or BaseException (also as `builtins.X`, in parentheses, in a
// tuple, or before `as`).
bool except_clause_catches_keyerror(TSNode clause, std::string_view source);

// True when `node` is a "try_statement" with at least one except clause
// that catches a KeyError (under `rule`). `except*` clauses never count.
bool is_keyerror_guard(TSNode node, std::string_view source,
                       GuardRule rule = GuardRule::AnyCatcher);

// True when `node` itself or one of its ancestors is a try statement that
// catches a KeyError. The climb ignores function, class and lambda
// boundaries, and covers the try body, the handlers, else and finally alike.
bool is_within_keyerror_try_except(TSNode node, std::string_view source,
                                   GuardRule rule = GuardRule::AnyCatcher);

// Appends every "subscript" node at or beneath `node` that no guard encloses,
// in pre-order (an enclosing subscript before the ones inside it). The guard
// status is settled during the walk, so the cost stays linear in the subtree.
void find_unguarded_dict_accesses(TSNode node, std::vector<TSNode>& accesses,
                                  std::string_view source);

}  // namespace keyhound
