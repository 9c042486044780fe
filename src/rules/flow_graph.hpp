#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "rules/risk_origins.hpp"

namespace keyhound {

// A key fact: the container V holds the key K, by their compared texts.
// An empty V holds K whatever the container (a position of `range`).
using FactId = uint32_t;

// Where a fact comes from, which names the rule that a lookup it proves is
// counted under.
enum class FactOrigin : uint8_t {
  Test,      // `k in d`, `d.get(k)`, a loop over the keys
  Known,     // stored, read, set by default, a literal's key, a copy's loop
  Position,  // a loop over `range(...)` or `enumerate(xs)`
};

// The facts of one scope, each interned once, and the kills: a rebinding
// of a name undoes every fact whose container or key mentions it; a
// deletion undoes the facts of its container.
class FactTable {
 public:
  FactId intern(std::string object, std::string key, FactOrigin origin);
  // The kill of `text`; resolved to the facts it undoes once the scope's
  // facts are all interned.
  uint32_t kill(std::string text, bool object_only);
  void resolve_kills();

  std::size_t size() const { return facts_.size(); }
  const std::string& object(FactId fact) const { return facts_[fact].object; }
  const std::string& key(FactId fact) const { return facts_[fact].key; }
  FactOrigin origin(FactId fact) const { return facts_[fact].origin; }
  const std::vector<FactId>& killed_by(uint32_t kill) const { return kills_[kill].facts; }
  // The fact (object, key), if the scope has it.
  FactId find(std::string_view object, std::string_view key) const;

  static constexpr FactId kNone = std::numeric_limits<FactId>::max();

 private:
  struct Fact {
    std::string object;
    std::string key;
    FactOrigin origin;
  };
  struct Kill {
    std::string text;
    bool object_only;
    std::vector<FactId> facts;
  };
  std::vector<Fact> facts_;
  std::unordered_map<std::string, FactId> by_text_;
  std::vector<Kill> kills_;
  std::unordered_map<std::string, uint32_t> kill_by_text_;
};

// One step of a block, in the order the code runs.
struct FlowEvent {
  enum class Kind : uint8_t {
    Gen,    // the fact holds from here
    Kill,   // the kill's facts no longer hold
    Query,  // a lookup: does its fact hold here?
    Derive,  // for each pair of the derivation: if the first holds, the second does
  };
  Kind kind;
  uint32_t value;  // the fact, the kill, or the query
};

struct FlowBlock {
  std::vector<FlowEvent> events;
  std::vector<uint32_t> successors;
  // Where an exception raised in the block goes (a handler, a `finally`,
  // the end of a `with suppress(...)`): it takes what held at the block's
  // start and was not undone anywhere in it.
  uint32_t handler = kNoBlock;

  static constexpr uint32_t kNoBlock = std::numeric_limits<uint32_t>::max();
};

// The key a fact about a value's kind is kept under: (V, this) holds when
// V is a list, tuple, string or other sequence on every path.
inline constexpr std::string_view kSequenceKey = "\x01sequence";

// A lookup the graph asks about: `fact` for its container and key,
// `any_container` for its key in any container, `sequence` for its
// container being a sequence.
struct FlowQuery {
  const void* subscript;
  // The subscript's place in the outline.
  uint32_t node;
  FactId fact;
  FactId any_container;
  FactId sequence;
};

// A fact whose holding at a query sets bit `bit` of the query's mask
// `slot`: what the ranking of an unproven lookup asks of the origins of
// its container and key.
struct FlowProbe {
  uint32_t query;
  FactId fact;
  uint8_t slot;
  uint8_t bit;
};

inline constexpr std::size_t kProbeSlots = 3;
using ProbeMasks = std::array<uint16_t, kProbeSlots>;

// The control-flow graph of one scope: block 0 is its entry, which holds
// `initial`.
struct FlowGraph {
  std::vector<FlowBlock> blocks;
  std::vector<FlowQuery> queries;
  std::vector<FactId> initial;
  FactTable facts;
  // Per Derive event: (holds, then holds) pairs. `m = dict.fromkeys(xs)`
  // makes (m, every key of xs) known; in `for x in xs:` that becomes (m, x).
  std::vector<std::vector<std::pair<FactId, FactId>>> derivations;
  // Sorted by query.
  std::vector<FlowProbe> probes;
  // Per query, what the ranking reads of its lookup's shape.
  std::vector<LookupShape> shapes;
};

// What the fixed point answers of each query.
struct FlowAnswers {
  // The fact that proves it (its own, its key's in any container, or its
  // container's being a sequence), or kNone.
  std::vector<FactId> proof;
  // Its probes' bits that hold on every path to it.
  std::vector<ProbeMasks> masks;
  // The facts the fixed point copied and looked at, and whether it gave up
  // (past kMostFlowSteps: then it proves nothing).
  uint64_t steps = 0;
  bool gave_up = false;
};

// What a scope's fixed point may cost before it gives up: far above any
// function of real code (the benchmark prints the most any scope took),
// and what keeps a hostile one (20,000 lookups joined by `and`, each a
// block knowing all the keys before it) from taking time that grows with
// the square of its size. A scope that gives up proves none of its
// lookups: they are reported, as with --exact.
inline constexpr uint64_t kMostFlowSteps = uint64_t{1} << 26;

// The key under which (V, kEveryKeyOf + X) says V holds every item of X.
inline constexpr std::string_view kEveryKeyOf = "\x02every key of ";

// The facts that hold on every path to each query, to a fixed point: for
// each query, the fact that proves it (its own, its key's in any
// container, or its container's being a sequence), or kNone. A query in code no path reaches proves nothing.
FlowAnswers solve_flow(const FlowGraph& graph);

}  // namespace keyhound
