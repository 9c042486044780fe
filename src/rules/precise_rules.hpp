#pragma once

#include <tree_sitter/api.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "base/id_map.hpp"
#include "rules/risk.hpp"
#include "syntax/file_index.hpp"

namespace keyhound {

// The rules of precise mode, each of which takes a subscript out of the
// accesses: it is then neither reported nor a source of KeyError.
enum class PreciseRule : std::size_t {
  Store,              // an assignment or `for` target
  Slice,              // x[a:b], x[a:b, c]
  IntegerIndex,       // x[0], x[-1]
  TypeSubscript,      // annotations, base classes, known generics
  MembershipGuard,    // inside `if k in d:` and its kin
  NonRaisingContainer,  // a name only ever bound to defaultdict or Counter
  Sequence,           // a list, tuple or string, or a position in one
  KnownKey,           // a key just stored, read or taken from the mapping
  ProtocolMethod,     // the key parameter of __getitem__ and its kin
  ModuleConstant,     // a key of a module's constant dict, globals(), sys.modules
  SuppressedKeyError,  // inside `with suppress(KeyError):`
  Count,
};

inline constexpr std::array<std::string_view, static_cast<std::size_t>(PreciseRule::Count)>
    kPreciseRuleNames = {"stores",           "slices",
                         "integer indexes",  "type subscripts",
                         "membership guards", "defaultdict and Counter",
                         "sequences",        "known keys",
                         "protocol methods", "module constants",
                         "suppress(KeyError)"};

// What precise mode knows of one file's tree, from one walk.
struct PreciseFacts {
  // Subscripts (by node id) that a rule takes out of the accesses.
  IdSet exempt;
  // Calls (by node id) that a `with suppress(KeyError):` guards.
  IdSet guarded_calls;
  // For each call of a function of the file, as its scopes resolve it, the
  // definition called (node ids). A bare-name call whose name, where it is
  // written, is not a function visible by that name (a method, a function
  // nested in a function that does not enclose the call, or a name bound
  // locally) has none, and so relates to nothing.
  IdMap<const void*> call_targets;
  // Lookups and calls (by node id) in the body of a lambda: they run when
  // the lambda is called, not when the function holding it is.
  IdSet deferred;
  // For each lookup left, how likely its key is to be missing and why.
  IdMap<Risk> risks;
  // Lookups the flow graphs could not ask about: a text too long to compare.
  std::size_t long_texts = 0;
  // The most steps one scope's fixed point took, and how many scopes gave
  // up (past kMostFlowSteps).
  uint64_t most_flow_steps = 0;
  std::size_t flows_given_up = 0;
  // How many subscripts each rule took out (the first rule that applies).
  std::array<std::size_t, static_cast<std::size_t>(PreciseRule::Count)> removed{};
  // The first node, in pre-order, where the parser met a syntax error.
  std::optional<TSNode> first_error;

  // Takes a subscript out under `rule`, unless an earlier rule took it.
  void take(const void* subscript, PreciseRule rule) {
    if (exempt.insert(subscript).second) ++removed[static_cast<std::size_t>(rule)];
  }
};

// Gathers the facts during the file index's walk (it observes that walk),
// and settles them once the walk is done.
class PreciseClassifier;
class ScopeFlowMemo;
class StatementMove;
struct PreciseStatement;
class PreciseObserver {
 public:
  // With a memo, the flow graphs of scopes it has seen are not built again.
  explicit PreciseObserver(std::string_view source, ScopeFlowMemo* memo = nullptr);
  ~PreciseObserver();
  PreciseObserver(const PreciseObserver&) = delete;
  PreciseObserver& operator=(const PreciseObserver&) = delete;

  WalkObserver& observer();
  PreciseFacts finish();
  // Room for about this many outline nodes, when the caller knows.
  void reserve_outline(std::size_t nodes);

  // What the walk of the last top-level statement walked gave the rules,
  // taken once the walk has left it; and such a part added, moved to where
  // its statement now stands, in place of the statement's walk.
  std::shared_ptr<const PreciseStatement> last_statement() const;
  static std::size_t outline_nodes(const PreciseStatement& statement);
  void add_statement(const PreciseStatement& statement, const StatementMove& move);

 private:
  std::unique_ptr<PreciseClassifier> classifier_;
};

// The facts of a whole tree, in a walk of their own (for tests and tools).
PreciseFacts precise_facts(TSNode root, std::string_view source);

}  // namespace keyhound
