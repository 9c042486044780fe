#pragma once

#include <cstdint>
#include <vector>

#include "syntax/keyerror_guard.hpp"
#include "syntax/python_grammar.hpp"

namespace keyhound {

// Tracks, during a pre-order walk, whether a try statement that catches
// KeyError encloses the current node. Guards above the walk's start come
// from one climb; those inside the walk are opened on entry and closed when
// the walk leaves them, so no node needs a climb of its own.
class GuardTracker {
 public:
  GuardTracker(TSNode start, std::string_view source, GuardRule rule)
      : source_(source),
        rule_(rule),
        guarded_from_outside_(is_within_keyerror_try_except(start, source, rule)) {}

  // Call on entering a node of kind `kind`; answers whether a guard
  // encloses it.
  bool enter(TSNode node, TSSymbol kind, uint32_t depth) {
    if (kind == python_grammar().try_statement &&
        is_keyerror_guard(node, source_, rule_)) {
      open_guard_depths_.push_back(depth);
    }
    return guarded_from_outside_ || !open_guard_depths_.empty();
  }

  void leave(uint32_t depth) {
    if (!open_guard_depths_.empty() && open_guard_depths_.back() == depth) {
      open_guard_depths_.pop_back();
    }
  }

 private:
  std::string_view source_;
  GuardRule rule_;
  bool guarded_from_outside_;
  std::vector<uint32_t> open_guard_depths_;
};

}  // namespace keyhound
