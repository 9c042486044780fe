#pragma once

#include <tree_sitter/api.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/id_map.hpp"
#include "rules/flow_graph.hpp"
#include "rules/key_tests.hpp"
#include "rules/precise_kinds.hpp"
#include "rules/syntax_outline.hpp"

namespace keyhound {

using ModuleConstants = std::unordered_map<std::string, std::unordered_set<std::string>>;

// Among a constant's keys: code of the module stores into it, so that a
// key its literal lacks may still be there.
inline constexpr std::string_view kFilledBeyondItsLiteral = "\x04filled";

// What a file's flow graphs are built with.
struct FlowInputs {
  const SyntaxOutline& outline;
  std::string_view source;
  const PreciseKinds& kinds;
  // The module's constant dicts and their string keys, which every function
  // and lambda of the module starts knowing (but for a name its parameters
  // rebind).
  const ModuleConstants& constants;
  // Lookups another rule has taken out already: the graphs need not ask
  // about them, and a scope with nothing else to ask is not built.
  const IdSet& exempt;
};

// What the builder finds besides the graphs: the lookups and calls that a
// `with suppress(KeyError):` (or LookupError, Exception) guards (places in
// the outline), and how many lookups it could not ask about, their
// container's or key's text being longer than kLongestKeyText.
struct SuppressedCode {
  std::vector<uint32_t> subscripts;
  std::vector<uint32_t> calls;
  std::size_t long_texts = 0;
};

// One scope's graph as built, and what its builder found besides.
struct ScopeBuild {
  // Its `def` or lambda in the outline, or OutlineNode::kNone for the module.
  uint32_t definition;
  FlowGraph graph;
  SuppressedCode suppressed;
  // The definitions met in its code, in the order met: each a scope of its
  // own, built later.
  std::vector<uint32_t> nested;
};

// Answers for a function's or lambda's scope without building it: true
// when it did, having added the definitions met in its code to `nested`
// as building it would have.
using ScopeRecall = std::function<bool(uint32_t definition, std::vector<uint32_t>& nested)>;

// Builds the control-flow graph of each scope of the file in turn, the
// module first (a class body runs where it is written, in its enclosing
// scope; a function's or lambda's body is a scope of its own, which does
// not run where it is defined), and hands each to `done`, but for the
// scopes that `recall` answers.
void build_flow_graphs(const FlowInputs& inputs, const std::function<void(ScopeBuild&)>& done,
                       const ScopeRecall& recall = nullptr);

}  // namespace keyhound
