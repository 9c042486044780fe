#pragma once

#include <string_view>
#include <unordered_set>

#include "base/id_map.hpp"
#include "rules/flow_builder.hpp"
#include "rules/precise_kinds.hpp"
#include "rules/precise_rules.hpp"
#include "rules/scope_flow_memo.hpp"
#include "rules/scopes.hpp"
#include "rules/syntax_outline.hpp"

namespace keyhound {

// The module-level names bound once, to a dict literal, whose keys nothing
// in the module deletes (`del NAME[...]`, `NAME.pop`, `NAME.popitem`,
// `NAME.clear`), which no function declares `global`: their string keys.
ModuleConstants module_constants(const SyntaxOutline& outline, std::string_view source,
                                 const PreciseKinds& kinds, const Scope& module);

// The lookups and calls in the bodies of lambdas (by node id).
IdSet deferred_code(const SyntaxOutline& outline,
                                              const PreciseKinds& kinds);

// Asks each scope's flow graph which lookups find their key on every path,
// and takes them out under the rule their fact comes from; and those that a
// `with suppress(KeyError):` guards, with its calls. With a memo, a scope
// whose code an earlier analysis saw is answered from it, not built again.
void take_proven_keys(const SyntaxOutline& outline, std::string_view source,
                      const PreciseKinds& kinds, const Scope& module, PreciseFacts& facts,
                      ScopeFlowMemo* memo = nullptr);

}  // namespace keyhound
