#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/id_map.hpp"
#include "rules/flow_builder.hpp"
#include "rules/precise_rules.hpp"
#include "rules/risk.hpp"
#include "rules/syntax_outline.hpp"

namespace keyhound {

// What one scope's flow graph told of its lookups and calls, each named by
// its place in the outline counted from the scope's definition: the same
// for the same code wherever in the file it has moved to.
struct ScopeFlowOutcome {
  struct Answer {
    uint32_t subscript;
    // The rule that proves its key there, or none and how likely the key
    // is to be missing.
    std::optional<PreciseRule> rule;
    Risk risk;
  };
  // One per question the graph asked, in the order asked.
  std::vector<Answer> answers;
  std::vector<uint32_t> suppressed_subscripts;
  std::vector<uint32_t> suppressed_calls;
  // The definitions in its code, each a scope of its own.
  std::vector<uint32_t> nested;
  std::size_t long_texts = 0;
  uint64_t steps = 0;
  bool gave_up = false;
};

// What a function's or lambda's code is: its text and the shape of its
// outline (kinds, fields, links and offsets, counted from the definition),
// with the places of its lookups among its nodes. The same wherever the
// code has moved to.
struct ScopeShape {
  std::string text;
  std::size_t hash = 0;
  std::vector<uint32_t> subscripts;
};
ScopeShape scope_shape(const SyntaxOutline& outline, uint32_t definition, std::string_view source);

// The most bytes scope_key gives for `definition`. A scope's key holds the
// scopes nested in it, so the keys of deeply nested code add up to far more
// than the file: their sum is held to a budget of a few times it.
std::size_t scope_key_size(const SyntaxOutline& outline, uint32_t definition);
// Four times what one key of the whole file would hold: room for scopes
// nested four deep, as real code seldom is.
std::size_t scope_key_budget(const SyntaxOutline& outline, std::string_view source);

// A scope's key: its shape, shared with the statement it was worked out
// for (so that a kept statement's scope compares by the shape's address
// first, and no key copies a shape), the marks of its lookups, and the
// hash of both, worked out once: a recall looks for it in two maps.
struct ScopeKey {
  ScopeKey(std::shared_ptr<const ScopeShape> key_shape, std::string key_marks,
           std::size_t key_hash)
      : shape(std::move(key_shape)), marks(std::move(key_marks)), hash(key_hash) {}
  bool operator==(const ScopeKey& other) const {
    return hash == other.hash && marks == other.marks &&
           (shape == other.shape || shape->text == other.shape->text);
  }
  std::size_t size() const { return shape->text.size() + marks.size(); }

  std::shared_ptr<const ScopeShape> shape;
  std::string marks;
  std::size_t hash;
};

struct ScopeKeyHash {
  std::size_t operator()(const ScopeKey& key) const { return key.hash; }
};

// Everything a function's or lambda's flow graph is built from but the
// module's constants: its shape, and which of its lookups another rule took
// out. Two scopes with the same key and no syntax error have the same graph
// (with an error, the parser's recovery may give the same text another
// tree).
ScopeKey scope_key(std::shared_ptr<const ScopeShape> shape, const SyntaxOutline& outline,
                   uint32_t definition, const IdSet& exempt);

// The module's constant dicts and their keys in one text, in sorted order.
std::string constants_key(const ModuleConstants& constants);

// The outcomes of an editor's document's scopes, kept from one analysis to
// the next, so that a keystroke rebuilds only the graphs of the scopes
// whose code it changed. Each analysis keeps what it made or recalled and
// lets go of the rest, so the memo holds one outcome a scope.
class ScopeFlowMemo {
 public:
  // Starts an analysis of a module with these constants (constants_key),
  // which every function starts knowing: under other constants nothing
  // kept holds.
  void begin(std::string constants);
  // The outcome kept under `key`, or nullptr.
  const ScopeFlowOutcome* recall(const ScopeKey& key);
  void keep(ScopeKey key, ScopeFlowOutcome outcome);
  // Ends the analysis: what it neither made nor recalled goes.
  void finish() { previous_.clear(); }

  // How many scopes were recalled rather than built, since the memo began.
  std::size_t recalled() const { return recalled_; }
  // The bytes of the keys held.
  std::size_t key_bytes() const;

 private:
  std::optional<std::string> constants_;
  std::unordered_map<ScopeKey, ScopeFlowOutcome, ScopeKeyHash> current_;
  std::unordered_map<ScopeKey, ScopeFlowOutcome, ScopeKeyHash> previous_;
  std::size_t recalled_ = 0;
};

}  // namespace keyhound
