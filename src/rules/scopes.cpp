#include "base/id_map.hpp"
#include "syntax/node_access.hpp"
#include "rules/scopes.hpp"

#include <algorithm>

#include "base/internal_fault.hpp"
#include "syntax/node_text.hpp"
#include "rules/expression_text.hpp"
#include "rules/sequences.hpp"

namespace keyhound {

void for_each_target(TSNode target, const PreciseKinds& k,
                     const std::function<void(TSNode)>& on_subscript,
                     const std::function<void(TSNode)>& on_name,
                     const std::function<void(TSNode)>& on_attribute) {
  std::vector<TSNode> pending{target};
  while (!pending.empty()) {
    TSNode node = pending.back();
    pending.pop_back();
    TSSymbol kind = node_kind(node);
    if (kind == k.subscript) {
      on_subscript(node);
    } else if (kind == k.identifier) {
      on_name(node);
    } else if (kind == k.attribute) {
      if (on_attribute) on_attribute(node);
    } else if (kind == k.pattern_list || kind == k.tuple_pattern || kind == k.list_pattern ||
               kind == k.tuple || kind == k.list || kind == k.parenthesized_expression ||
               kind == k.list_splat_pattern) {
      uint32_t count = named_child_count(node);
      for (uint32_t i = 0; i < count; ++i) pending.push_back(named_child(node, i));
    }
  }
}


ScopeTracker::ScopeTracker(std::string_view source, const PreciseKinds& kinds)
    : source_(source), k_(kinds) {
  open(0, false);
  stack_.push_back({0, 0});
}

void ScopeTracker::open(std::size_t parent, bool is_class) {
  Scope& scope = opened_.emplace_back(Scope{is_class, {}, {}, {}, {}, {}});
  scopes_.push_back(&scope);
  parents_.push_back(parent);
  writable_.push_back(&scope);
}

Scope& ScopeTracker::opened(std::size_t index) {
  if (!writable_[index]) throw InternalFault("a kept statement's scope changed");
  return *writable_[index];
}

void ScopeTracker::bind_in_module(const ScopesPart::ModuleBinding& binding,
                                  const void* definition) {
  Scope& module = opened(0);
  switch (binding.kind) {
    case ScopesPart::ModuleBinding::Kind::Def:
      module.def_nodes.insert_or_assign(binding.name, definition);
      break;
    case ScopesPart::ModuleBinding::Kind::Class:
      module.bindings.insert(binding.name);
      break;
    case ScopesPart::ModuleBinding::Kind::Value:
      module.values[binding.name][static_cast<std::size_t>(binding.value)] += 1;
      module.bindings.insert(binding.name);
      break;
  }
}

void ScopeTracker::apply(ScopesPart::ModuleBinding binding) {
  bind_in_module(binding, binding.definition);
  module_bindings_.push_back(std::move(binding));
}

void ScopeTracker::enter_definition(TSNode definition, uint32_t depth) {
  bool is_class = node_kind(definition) == k_.class_definition;
  TSNode name = field_child(definition, k_.name);
  if (!is_null(name)) {
    std::string text(node_text(name, source_));
    if (current() == 0) {
      using Kind = ScopesPart::ModuleBinding::Kind;
      apply({is_class ? Kind::Class : Kind::Def, std::move(text), definition.id,
             BoundValue::Unknown});
    } else if (is_class) {
      opened(current()).bindings.insert(std::move(text));
    } else {
      opened(current()).def_nodes.insert_or_assign(std::move(text), definition.id);
    }
  }
  open(current(), is_class);
  stack_.push_back({depth, scopes_.size() - 1});
  if (!is_class) bind_parameters(definition);
}

void ScopeTracker::bind_attribute(std::string name, BoundValue value) {
  if (scope(current()).is_class) return;
  if (auto owner = enclosing_class()) {
    opened(*owner).attributes[std::move(name)][static_cast<std::size_t>(value)] += 1;
  }
}

std::optional<std::size_t> ScopeTracker::enclosing_class() const {
  for (std::size_t at = current(); at != 0;) {
    at = parents_[at];
    if (scope(at).is_class) return at;
  }
  return std::nullopt;
}

void ScopeTracker::bind_declared(TSNode statement) {
  uint32_t count = named_child_count(statement);
  for (uint32_t i = 0; i < count; ++i) {
    TSNode name = named_child(statement, i);
    if (node_kind(name) != k_.identifier) continue;
    std::string text(node_text(name, source_));
    if (node_kind(statement) == k_.global_statement) {
      globals_.insert(text);
      global_names_.push_back(text);
    }
    bind(std::move(text), BoundValue::Unknown);
  }
}

void ScopeTracker::leave(uint32_t depth) {
  if (stack_.size() > 1 && stack_.back().first == depth) stack_.pop_back();
}

void ScopeTracker::bind(std::string name, BoundValue value) {
  if (current() == 0) {
    return apply({ScopesPart::ModuleBinding::Kind::Value, std::move(name), nullptr, value});
  }
  Scope& scope = opened(current());
  scope.values[name][static_cast<std::size_t>(value)] += 1;
  scope.bindings.insert(std::move(name));
}

void ScopeTracker::bind_names_within(TSNode node) {
  std::vector<TSNode> pending{node};
  while (!pending.empty()) {
    TSNode current_node = pending.back();
    pending.pop_back();
    if (node_kind(current_node) == k_.identifier) {
      bind(std::string(node_text(current_node, source_)), BoundValue::Unknown);
      continue;
    }
    uint32_t count = named_child_count(current_node);
    for (uint32_t i = 0; i < count; ++i) pending.push_back(named_child(current_node, i));
  }
}

// Each parameter is bound to what its annotation says, `*args` to a tuple.
void ScopeTracker::bind_parameters(TSNode definition) {
  TSNode parameters = field_child(definition, k_.parameters_field);
  if (is_null(parameters)) return;
  uint32_t count = named_child_count(parameters);
  std::size_t position = 0;
  for (uint32_t i = 0; i < count; ++i) {
    TSNode parameter = named_child(parameters, i);
    TSSymbol kind = node_kind(parameter);
    TSNode name = kind == k_.identifier ? parameter : field_child(parameter, k_.name);
    if (is_null(name) && named_child_count(parameter) > 0) {
      name = named_child(parameter, 0);
    }
    if (is_null(name)) continue;
    BoundValue value = annotated_value(field_child(parameter, k_.type_field), k_,
                                       source_);
    if (node_kind(name) == k_.list_splat_pattern && named_child_count(name) == 1) {
      // `*args: int`: the annotation is the items'.
      name = named_child(name, 0);
      value = BoundValue::Sequence;
    } else if (kind == k_.list_splat_pattern) {
      value = BoundValue::Sequence;
    }
    if (node_kind(name) != k_.identifier) continue;
    std::string text(node_text(name, source_));
    if (position++ == 1) note_protocol_key(definition, text);
    bind(std::move(text), value);
  }
}

void ScopeTracker::note_protocol_key(TSNode definition, const std::string& parameter) {
  std::string_view name = node_text(field_child(definition, k_.name), source_);
  if (scope(parent(current())).is_class &&
      (name == "__getitem__" || name == "__missing__" || name == "__delitem__")) {
    opened(current()).protocol_key = parameter;
  }
}

void ScopeTracker::bind_imports(TSNode statement) {
  uint32_t count = named_child_count(statement);
  for (uint32_t i = 0; i < count; ++i) {
    TSNode item = named_child(statement, i);
    TSNode bound = item;
    if (node_kind(item) == k_.aliased_import) {
      bound = field_child(item, k_.alias);
    }
    if (is_null(bound)) continue;
    std::string text = compact_text(bound, source_);
    // `import a.b` binds `a`.
    bind(text.substr(0, text.find('.')), BoundValue::Unknown);
  }
}

void ScopeTracker::note_call(TSNode call) {
  TSNode callee = field_child(call, k_.function);
  if (is_null(callee)) return;
  if (node_kind(callee) == k_.identifier) {
    calls_.push_back({call.id, std::string(node_text(callee, source_)), current(), false});
    return;
  }
  if (node_kind(callee) != k_.attribute || scope(current()).is_class) return;
  std::string_view object = node_text(field_child(callee, k_.object), source_);
  if (object != "self" && object != "cls") return;
  if (auto owner = enclosing_class()) {
    calls_.push_back({call.id,
                      std::string(node_text(field_child(callee, k_.attribute_field), source_)),
                      *owner, true});
  }
}

IdMap<const void*> ScopeTracker::call_targets() const {
  IdMap<const void*> targets;
  for (const CallUse& call : calls_) {
    std::optional<std::size_t> scope =
        call.method ? std::optional<std::size_t>(call.scope) : defining_scope(call.name, call.scope);
    if (!scope) continue;
    const auto& defs = this->scope(*scope).def_nodes;
    auto found = defs.find(call.name);
    if (found != defs.end()) targets.emplace(call.id, found->second);
  }
  return targets;
}

// A function nested in an enclosing function, or a module-level function,
// unless a nearer scope binds the name otherwise. Class scopes are not seen
// from inside their methods.
std::optional<std::size_t> ScopeTracker::defining_scope(const std::string& name,
                                                        std::size_t from) const {
  std::size_t at = from;
  for (;;) {
    const Scope& scope = this->scope(at);
    if (!scope.is_class) {
      if (scope.def_nodes.contains(name)) return at;
      if (scope.bindings.contains(name)) return std::nullopt;
    }
    if (at == 0) return std::nullopt;
    at = parents_[at];
  }
}

ScopeMarks ScopeTracker::marks() const {
  return {scopes_.size(), module_bindings_.size(), calls_.size(), global_names_.size()};
}

ScopesPart ScopeTracker::part_since(const ScopeMarks& marks) const {
  if (stack_.size() != 1) throw InternalFault("a scopes part taken inside a statement");
  auto from = [](const auto& items, std::size_t begin) {
    return std::vector(items.begin() + static_cast<std::ptrdiff_t>(begin), items.end());
  };
  std::vector<Scope> scopes;
  scopes.reserve(scopes_.size() - marks.scopes);
  for (std::size_t index = marks.scopes; index < scopes_.size(); ++index) {
    scopes.push_back(scope(index));
  }
  ScopesPart part{.first_scope = marks.scopes,
                  .module_bindings = from(module_bindings_, marks.module_bindings),
                  .scopes = std::make_shared<const std::vector<Scope>>(std::move(scopes)),
                  .parents = from(parents_, marks.scopes),
                  .calls = from(calls_, marks.calls),
                  .globals = from(global_names_, marks.globals)};
  return part;
}

void ScopeTracker::add_part(const ScopesPart& part, const StatementMove& move) {
  if (stack_.size() != 1) throw InternalFault("a scopes part added inside a statement");
  const ScopeRenumbering renumber(part.first_scope, scopes_.size());
  // A kept part's bindings are kept with it: only a walked statement's are
  // logged, to be kept in turn.
  for (const ScopesPart::ModuleBinding& binding : part.module_bindings) {
    bind_in_module(binding, move.id(binding.definition));
  }
  // The statement's scopes are lent as they are unless one names the
  // statement's own node, whose handle the edit moved.
  bool lent = false;
  for (std::size_t index = 0; index < part.scopes->size(); ++index) {
    const Scope& scope = (*part.scopes)[index];
    const bool moved = std::ranges::any_of(scope.def_nodes, [&](const auto& entry) {
      return move.id(entry.second) != entry.second;
    });
    parents_.push_back(renumber(part.parents[index]));
    if (!moved) {
      scopes_.push_back(&scope);
      writable_.push_back(nullptr);
      lent = true;
      continue;
    }
    Scope& copy = opened_.emplace_back(scope);
    for (auto& [name, definition] : copy.def_nodes) definition = move.id(definition);
    scopes_.push_back(&copy);
    writable_.push_back(&copy);
  }
  if (lent) lent_.push_back(part.scopes);
  for (const ScopesPart::Call& call : part.calls) {
    calls_.push_back({move.id(call.id), call.name, renumber(call.scope), call.method});
  }
  for (const std::string& name : part.globals) {
    globals_.insert(name);
    global_names_.push_back(name);
  }
}

}  // namespace keyhound
