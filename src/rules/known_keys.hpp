#pragma once

#include <tree_sitter/api.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "rules/precise_kinds.hpp"
#include "rules/precise_rules.hpp"

namespace keyhound {

// Keys a function has just stored, read or checked: after `d[k] = v`,
// `d.setdefault(k, v)`, a read of `d[k]`, `d = {"k": ...}` or
// `k = next(iter(d))`, a read of `d[k]` later in the same block (or a block
// within it) cannot raise, until `del d[...]`, `d.pop(...)`, `d.clear()` or
// a rebinding of `d` or `k`. What runs only on some paths (a branch, the
// right of `and`, a lambda, a comprehension) makes no key known.
class KnownKeys {
 public:
  KnownKeys(std::string_view source, const PreciseKinds& kinds) : source_(source), k_(kinds) {}

  // Called for the nodes of the kinds the rules look at.
  void enter(TSNode node, TSSymbol kind, uint32_t depth);
  void leave(uint32_t depth);

  // A subscript that reads (not a store, not deleted): known now, or a key
  // known from here on. A store only makes its key known.
  void on_read(TSNode subscript, TSNode object, TSNode index);
  void on_store(TSNode object, TSNode index);
  bool is_deleted(TSNode subscript) const { return deleted_.contains(subscript.id); }

  // A name, attribute or subscript bound anew: what was known of it is not.
  void on_rebinding(TSNode target);

  // Takes out the reads found known whose loop does not forget the key
  // later in its body, before the next time round.
  void settle(PreciseFacts& facts) const;

 private:
  struct Key {
    std::string object;
    std::string key;
    // The innermost definition open where the key became known, and how
    // many loops were open then.
    const void* definition;
    std::size_t loops;
    uint32_t statement_depth;  // pending until the walk leaves this depth
    uint32_t block_depth;      // known until the walk leaves this depth
    // Made known by the binding of its own statement (`d = {"k": ...}`),
    // which the statement's rebinding of `d` does not undo.
    bool by_binding;
    // The bytes its texts hold, a bit each (of 64), so that most texts are
    // told apart without comparing them.
    uint64_t bytes;
  };
  struct Candidate {
    const void* subscript;
    std::string object;
    std::string key;
    std::vector<const void*> loops;  // entered since the key became known
  };
  struct Forgotten {
    std::string text;
    bool object_only;
    std::vector<const void*> loops;
  };

  void note(std::string object, std::string key, bool by_binding = false);
  void forget(const std::string& text, bool object_only);
  void forget_node(TSNode node, bool object_only);
  void on_call(TSNode call);
  void on_assignment(TSNode assignment);
  bool on_a_path_that_may_not_run() const { return !maybe_not_run_.empty(); }
  std::string key_text(TSNode index) const;

  std::string_view source_;
  const PreciseKinds& k_;
  std::vector<Key> known_;
  std::vector<Key> pending_;
  std::vector<uint32_t> blocks_;
  std::vector<std::pair<uint32_t, const void*>> definitions_;
  std::vector<std::pair<uint32_t, const void*>> loops_;
  std::vector<uint32_t> maybe_not_run_;
  std::unordered_set<const void*> deleted_;
  std::vector<Candidate> candidates_;
  std::vector<Forgotten> forgotten_;
  // Targets bound anew by the statement at each depth, while it runs.
  std::vector<std::pair<uint32_t, TSNode>> rebound_;
  // The deepest depth at which leaving a node closes something above.
  uint32_t watched_depth_ = 0;
  void watch(uint32_t depth) { watched_depth_ = std::max(watched_depth_, depth); }
};

}  // namespace keyhound
