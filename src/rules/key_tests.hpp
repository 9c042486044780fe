#pragma once

#include <tree_sitter/api.h>

#include <string>
#include <string_view>
#include <vector>

#include "rules/flow_graph.hpp"
#include "rules/precise_kinds.hpp"

namespace keyhound {

// A key fact as texts, before a scope interns it.
struct KeyPair {
  std::string object;
  std::string key;
  FactOrigin origin;
};

// What a test or a loop says of keys, from its syntax: `k in d` (and
// `d.keys()`), `d.get(k)` as a truth value or `is not None`,
// `isinstance(d.get(k), T)`, `(v := d.get(k))`, the false side of
// `k not in d` and of `d.get(k) is None`; the keys a loop visits.
class KeyTests {
 public:
  KeyTests(std::string_view source, const PreciseKinds& kinds) : source_(source), k_(kinds) {}

  void when_true(TSNode condition, std::vector<KeyPair>& pairs) const {
    when(condition, true, pairs);
  }
  void when_false(TSNode condition, std::vector<KeyPair>& pairs) const {
    when(condition, false, pairs);
  }
  // `for target in iterable`: `for k in d` (or `d.keys()`, a copy of the
  // keys, `for k, v in d.items()`), and the positions of `range(...)` and
  // `for i, x in enumerate(xs)`.
  void of_iteration(TSNode target, TSNode iterable, std::vector<KeyPair>& pairs) const;

  // The compared text of a container or key, or empty when too long.
  std::string object_text(TSNode node) const;
  std::string key_of(TSNode node) const;

 private:
  TSNode unwrapped(TSNode node) const;
  void add(TSNode container, TSNode key, std::vector<KeyPair>& pairs) const;
  void when(TSNode condition, bool truth, std::vector<KeyPair>& pairs) const;
  void get_call(TSNode node, std::vector<KeyPair>& pairs) const;

  std::string_view source_;
  const PreciseKinds& k_;
};

}  // namespace keyhound
