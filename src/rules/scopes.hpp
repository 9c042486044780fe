#pragma once

#include <tree_sitter/api.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/id_map.hpp"
#include "rules/precise_kinds.hpp"
#include "syntax/statement_move.hpp"

namespace keyhound {

// The parts of an assignment or `for` target, through tuples, lists,
// brackets and starred targets: each outermost subscript (a store), each
// plain name (a binding) and each attribute. The insides of subscripts and
// attributes are none of these.
void for_each_target(TSNode target, const PreciseKinds& k,
                     const std::function<void(TSNode)>& on_subscript,
                     const std::function<void(TSNode)>& on_name,
                     const std::function<void(TSNode)>& on_attribute = nullptr);

// What one binding of a name is bound to, as far as a rule can tell from
// the binding alone.
enum class BoundValue : uint8_t {
  NonRaisingContainer,  // a defaultdict(...) or Counter(...) call
  Sequence,             // a list, tuple, string or range, which no key indexes
  Unknown,              // anything else: a call, a parameter, an import, ...
  Count,
};

using BindingCounts = std::array<std::size_t, static_cast<std::size_t>(BoundValue::Count)>;

// A module, class or function body: the names it defines and binds. Its
// place among the file's scopes (its number and its parent's) is the
// tracker's, so that a kept statement's scopes are lent as they are to each
// analysis that adds the statement again.
struct Scope {
  bool is_class;
  // Names defined here by `def` (by node id, the last of each name): the
  // function a call of the name finds once the scope has run.
  std::unordered_map<std::string, const void*> def_nodes;
  // Names bound here otherwise.
  std::unordered_set<std::string> bindings;
  // Per name bound here: how many of its bindings are of each kind.
  std::unordered_map<std::string, BindingCounts> values;
  // A class: per attribute its methods assign as `self.X`, the same.
  std::unordered_map<std::string, BindingCounts> attributes;
  // `__getitem__`, `__missing__`, `__delitem__`: the key parameter, whose
  // lookups raise KeyError by the method's contract.
  std::string protocol_key;
};

// The scopes a top-level statement opened are numbered from where the
// file's count stood when it began: the same statement added again later
// numbers them from there. The module is scope 0 wherever it is.
class ScopeRenumbering {
 public:
  ScopeRenumbering(std::size_t was, std::size_t now) : was_(was), now_(now) {}
  std::size_t operator()(std::size_t scope) const { return scope == 0 ? 0 : scope - was_ + now_; }

 private:
  std::size_t was_;
  std::size_t now_;
};

// What one top-level statement did to a file's scopes: the module's
// bindings it made (in order, as the last `def` of a name wins), the scopes
// it opened, its calls and its `global` names. Scopes count as they did
// when the statement was walked, from `first_scope`.
struct ScopesPart {
  struct ModuleBinding {
    enum class Kind : uint8_t { Def, Class, Value };
    Kind kind;
    std::string name;
    const void* definition;
    BoundValue value;
  };
  std::size_t first_scope = 0;
  std::vector<ModuleBinding> module_bindings;
  // The scopes it opened, and the parent of each.
  std::shared_ptr<const std::vector<Scope>> scopes;
  std::vector<std::size_t> parents;
  // A call of a bare name, or of a method of `self` (then `scope` is the
  // class).
  struct Call {
    const void* id;
    std::string name;
    std::size_t scope;
    bool method;
  };
  std::vector<Call> calls;
  std::vector<std::string> globals;
};

// How far a file's scopes had come when a top-level statement began.
struct ScopeMarks {
  std::size_t scopes = 0;
  std::size_t module_bindings = 0;
  std::size_t calls = 0;
  std::size_t globals = 0;
};

// The scopes of one file, opened and closed as the walk passes the
// definitions, and the names each binds.
class ScopeTracker {
 public:
  ScopeTracker(std::string_view source, const PreciseKinds& kinds);

  std::size_t current() const { return stack_.back().second; }
  const Scope& scope(std::size_t index) const { return *scopes_[index]; }
  std::size_t parent(std::size_t index) const { return parents_[index]; }

  // A `def` or `class` at `depth`: its name binds in the enclosing scope,
  // its body is a new scope until the walk leaves it.
  void enter_definition(TSNode definition, uint32_t depth);
  void leave(uint32_t depth);

  void bind(std::string name, BoundValue value);
  // `self.NAME = ...` in a method: an attribute of the enclosing class.
  void bind_attribute(std::string name, BoundValue value);
  // The class whose methods (or functions within them) hold the walk.
  std::optional<std::size_t> enclosing_class() const;
  // `global x`, `nonlocal x`: the name is bound elsewhere too.
  void bind_declared(TSNode statement);
  // Whether a `global` statement anywhere in the file names `name`.
  bool declared_global(const std::string& name) const { return globals_.contains(name); }
  // Every name inside `node` (an `as` target) and every name an import binds.
  void bind_names_within(TSNode node);
  void bind_imports(TSNode statement);

  // A call of a bare name, or of `self.name` or `cls.name` in a class.
  void note_call(TSNode call);
  // The function each call noted finds, as Python resolves it: a bare name
  // in the nearest enclosing scope that binds it (class bodies aside), a
  // method of `self` or `cls` in its class (by node ids).
  IdMap<const void*> call_targets() const;

  // Between top-level statements: how far the scopes have come, what a
  // statement begun at `marks` did, and a statement's part done again.
  ScopeMarks marks() const;
  ScopesPart part_since(const ScopeMarks& marks) const;
  void add_part(const ScopesPart& part, const StatementMove& move);
  std::size_t scope_count() const { return scopes_.size(); }

 private:
  void bind_parameters(TSNode definition);
  void note_protocol_key(TSNode definition, const std::string& parameter);
  // The scope whose `def` of `name` a call in `from` finds, if one does.
  std::optional<std::size_t> defining_scope(const std::string& name, std::size_t from) const;

  using CallUse = ScopesPart::Call;

  void open(std::size_t parent, bool is_class);
  // A scope this walk opened, the only kind the walk changes.
  Scope& opened(std::size_t index);

  std::string_view source_;
  const PreciseKinds& k_;
  // Every scope by number, and its parent. The scopes the walk opened live
  // in `opened_` (`writable_` names them); a kept statement's scopes are
  // its part's, held by `lent_`.
  std::vector<const Scope*> scopes_;
  std::vector<std::size_t> parents_;
  std::vector<Scope*> writable_;
  std::deque<Scope> opened_;
  std::vector<std::shared_ptr<const std::vector<Scope>>> lent_;
  // (depth of the definition, index in scopes_); the module at depth 0.
  std::vector<std::pair<uint32_t, std::size_t>> stack_;
  std::vector<CallUse> calls_;
  std::unordered_set<std::string> globals_;
  // What the walk did to the module's scope and the global names, in order,
  // so that a statement's share of it can be kept.
  std::vector<ScopesPart::ModuleBinding> module_bindings_;
  std::vector<std::string> global_names_;
  // Walked: the binding changes the module's scope and is logged.
  void apply(ScopesPart::ModuleBinding binding);
  void bind_in_module(const ScopesPart::ModuleBinding& binding, const void* definition);
};

}  // namespace keyhound
