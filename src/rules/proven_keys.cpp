#include "base/id_map.hpp"
#include "rules/proven_keys.hpp"

#include <algorithm>
#include <optional>
#include <unordered_map>

#include "rules/key_text.hpp"
#include "rules/scope_flow_memo.hpp"
#include "syntax/node_access.hpp"
#include "syntax/node_text.hpp"

namespace keyhound {
namespace {

constexpr uint32_t kNone = OutlineNode::kNone;

// Lookups the language itself keeps: a module's own `__file__` and
// `__name__`, and the module running as `sys.modules[__name__]`.
bool always_present(std::string_view object, std::string_view key) {
  if (object == "globals()") return key == "\"__file__\"" || key == "\"__name__\"";
  if (object == "sys.modules") return key == "__name__" || key == "\"__main__\"";
  return false;
}

PreciseRule rule_of(FactOrigin origin) {
  switch (origin) {
    case FactOrigin::Test:
      return PreciseRule::MembershipGuard;
    case FactOrigin::Position:
      return PreciseRule::Sequence;
    case FactOrigin::Known:
      break;
  }
  return PreciseRule::KnownKey;
}

}  // namespace

namespace {

// Whether the module's own code (outside its functions, lambdas and
// classes) assigns a dict literal to a name: only such a name may be a
// constant, and a module with none need not be read further.
bool assigns_a_dict_literal(const SyntaxOutline& outline, const PreciseKinds& k) {
  const auto count = static_cast<uint32_t>(outline.nodes().size());
  for (uint32_t index = 1; index < count;) {
    const OutlineNode& node = outline[index];
    if (node.kind == k.function_definition || node.kind == k.lambda ||
        node.kind == k.class_definition) {
      index = node.subtree_end;
      continue;
    }
    if (node.kind == k.assignment) {
      TSNode left = field_child(node.node, k.left);
      TSNode right = field_child(node.node, k.right);
      if (!is_null(left) && node_kind(left) == k.identifier && !is_null(right) &&
          node_kind(right) == k.dictionary) {
        return true;
      }
    }
    ++index;
  }
  return false;
}

}  // namespace

ModuleConstants module_constants(const SyntaxOutline& outline, std::string_view source,
                                 const PreciseKinds& k, const Scope& module) {
  ModuleConstants constants;
  if (outline.nodes().empty() || !assigns_a_dict_literal(outline, k)) return constants;
  std::unordered_map<std::string, TSNode> candidates;
  std::unordered_set<std::string> changed;
  std::unordered_set<std::string> filled;
  auto name_of = [&](TSNode node) {
    return !is_null(node) && node_kind(node) == k.identifier ? std::string(node_text(node, source))
                                                            : std::string();
  };
  // The outline is in pre-order: a definition's subtree ends at its
  // subtree_end, until which the scan is inside it.
  uint32_t inside_until = 0;
  const auto count = static_cast<uint32_t>(outline.nodes().size());
  for (uint32_t index = 0; index < count; ++index) {
    const OutlineNode& node = outline[index];
    TSSymbol kind = node.kind;
    bool inside = index < inside_until;
    if (!inside && (kind == k.function_definition || kind == k.lambda ||
                    kind == k.class_definition)) {
      inside_until = node.subtree_end;
      continue;
    }
    if (kind == k.assignment) {
      TSNode left = field_child(node.node, k.left);
      TSNode right = field_child(node.node, k.right);
      std::string name = name_of(left);
      if (!inside && !name.empty() && !is_null(right) && node_kind(right) == k.dictionary) {
        if (!candidates.emplace(name, right).second) changed.insert(name);
      }
      // `NAME[k] = v` anywhere: the dict is filled beyond its literal.
      for_each_target(
          left, k, [&](TSNode store) { filled.insert(name_of(field_child(store, k.value))); },
          [](TSNode) {});
    } else if (kind == k.global_statement) {
      uint32_t count = named_child_count(node.node);
      for (uint32_t i = 0; i < count; ++i) changed.insert(name_of(named_child(node.node, i)));
    } else if (kind == k.augmented_assignment) {
      changed.insert(name_of(field_child(node.node, k.left)));
    } else if (kind == k.delete_statement) {
      std::vector<TSNode> targets{node.node};
      while (!targets.empty()) {
        TSNode target = targets.back();
        targets.pop_back();
        if (node_kind(target) == k.subscript) {
          changed.insert(name_of(field_child(target, k.value)));
        } else if (node_kind(target) == k.identifier) {
          changed.insert(name_of(target));
        } else {
          uint32_t count = named_child_count(target);
          for (uint32_t i = 0; i < count; ++i) targets.push_back(named_child(target, i));
        }
      }
    } else if (kind == k.call) {
      TSNode callee = field_child(node.node, k.function);
      if (!is_null(callee) && node_kind(callee) == k.attribute) {
        std::string_view method = node_text(field_child(callee, k.attribute_field), source);
        if (method == "pop" || method == "popitem" || method == "clear") {
          changed.insert(name_of(field_child(callee, k.object)));
        } else if (method == "update" || method == "setdefault") {
          filled.insert(name_of(field_child(callee, k.object)));
        }
      }
    }
  }
  for (const auto& [name, literal] : candidates) {
    if (changed.contains(name) || module.def_nodes.contains(name)) continue;
    auto counts = module.values.find(name);
    if (counts == module.values.end()) continue;
    std::size_t bindings = 0;
    for (std::size_t count : counts->second) bindings += count;
    if (bindings != 1) continue;
    std::unordered_set<std::string>& keys = constants[name];
    if (filled.contains(name)) keys.insert(std::string(kFilledBeyondItsLiteral));
    for (std::string& key : literal_keys(literal, k, source)) keys.insert(std::move(key));
  }
  return constants;
}

IdSet deferred_code(const SyntaxOutline& outline,
                                              const PreciseKinds& k) {
  IdSet deferred;
  // In pre-order, a lambda's body is the stretch up to its subtree_end.
  uint32_t deferred_until = 0;
  const auto count = static_cast<uint32_t>(outline.nodes().size());
  for (uint32_t index = 0; index < count; ++index) {
    const OutlineNode& node = outline[index];
    if (index < deferred_until) {
      if (node.kind == k.subscript || node.kind == k.call) deferred.insert(node.node.id);
      continue;
    }
    if (node.kind != k.lambda) continue;
    uint32_t body = outline.child(index, k.body);
    if (body != kNone) {
      index = body - 1;  // the parameters' defaults run where the lambda is written
      deferred_until = outline[body].subtree_end;
    }
  }
  return deferred;
}

namespace {

// What a scope's graph answers, in places counted from `base` (its
// definition, or the module's root).
ScopeFlowOutcome outcome_of(const ScopeBuild& scope, uint32_t base) {
  const FlowGraph& graph = scope.graph;
  FlowAnswers solved = solve_flow(graph);
  ScopeFlowOutcome outcome;
  outcome.steps = solved.steps;
  outcome.gave_up = solved.gave_up;
  std::vector<FactId> initial = graph.initial;
  std::sort(initial.begin(), initial.end());
  outcome.answers.reserve(graph.queries.size());
  for (std::size_t i = 0; i < solved.proof.size(); ++i) {
    const FlowQuery& query = graph.queries[i];
    FactId answer = solved.proof[i];
    ScopeFlowOutcome::Answer told{.subscript = query.node - base, .rule = std::nullopt, .risk = {}};
    if (answer != FactTable::kNone) {
      bool constant = std::binary_search(initial.begin(), initial.end(), answer);
      told.rule = constant ? PreciseRule::ModuleConstant : rule_of(graph.facts.origin(answer));
    } else if (always_present(graph.facts.object(query.fact), graph.facts.key(query.fact))) {
      told.rule = PreciseRule::ModuleConstant;
    }
    if (!told.rule) {
      LookupShape shape = graph.shapes[i];
      shape.object_origins = solved.masks[i][0];
      shape.root_origins = solved.masks[i][1];
      shape.key_origins = solved.masks[i][2];
      told.risk = rank_lookup(shape);
    }
    outcome.answers.push_back(std::move(told));
  }
  auto counted_from_base = [base](const std::vector<uint32_t>& places) {
    std::vector<uint32_t> relative;
    relative.reserve(places.size());
    for (uint32_t place : places) relative.push_back(place - base);
    return relative;
  };
  outcome.suppressed_subscripts = counted_from_base(scope.suppressed.subscripts);
  outcome.suppressed_calls = counted_from_base(scope.suppressed.calls);
  outcome.nested = counted_from_base(scope.nested);
  outcome.long_texts = scope.suppressed.long_texts;
  return outcome;
}

// What the scopes' outcomes add up to, as each comes.
class ProvenKeys {
 public:
  ProvenKeys(const SyntaxOutline& outline, PreciseFacts& facts)
      : outline_(outline), facts_(facts), proven_(outline.nodes().size()) {}

  void add(const ScopeFlowOutcome& outcome, uint32_t base) {
    facts_.most_flow_steps = std::max(facts_.most_flow_steps, outcome.steps);
    if (outcome.gave_up) ++facts_.flows_given_up;
    for (const ScopeFlowOutcome::Answer& answer : outcome.answers) {
      const void* subscript = id_at(base + answer.subscript);
      // A lookup in a `finally` is asked twice: it is proven when both say so.
      std::optional<std::optional<PreciseRule>>& proven = proven_[base + answer.subscript];
      if (!proven) {
        proven = answer.rule;
      } else if (!answer.rule) {
        proven->reset();
      }
      if (!answer.rule) {
        // Asked twice (in a `finally`): the higher answer stands.
        auto [ranked, first] = facts_.risks.try_emplace(subscript, answer.risk);
        if (!first && answer.risk.confidence > ranked->second.confidence) {
          ranked->second = answer.risk;
        }
      }
    }
    for (uint32_t place : outcome.suppressed_subscripts) suppressed_.push_back(id_at(base + place));
    for (uint32_t place : outcome.suppressed_calls) facts_.guarded_calls.insert(id_at(base + place));
    long_texts_ += outcome.long_texts;
  }

  void finish() {
    // In the order of the file, so that the counts do not depend on a hash.
    for (uint32_t place = 0; place < proven_.size(); ++place) {
      if (proven_[place] && *proven_[place]) facts_.take(id_at(place), **proven_[place]);
    }
    for (const void* subscript : suppressed_) facts_.take(subscript, PreciseRule::SuppressedKeyError);
    facts_.long_texts = long_texts_;
  }

 private:
  const void* id_at(uint32_t place) const { return outline_[place].node.id; }

  const SyntaxOutline& outline_;
  PreciseFacts& facts_;
  // Per outline node: whether it was asked about, and the rule that proves
  // its key, if one does.
  std::vector<std::optional<std::optional<PreciseRule>>> proven_;
  std::vector<const void*> suppressed_;
  std::size_t long_texts_ = 0;
};

}  // namespace

void take_proven_keys(const SyntaxOutline& outline, std::string_view source,
                      const PreciseKinds& kinds, const Scope& module, PreciseFacts& facts,
                      ScopeFlowMemo* memo) {
  ModuleConstants constants = module_constants(outline, source, kinds, module);
  if (memo) memo->begin(constants_key(constants));
  FlowInputs inputs{outline, source, kinds, constants, facts.exempt};
  ProvenKeys proven(outline, facts);
  // The key of the scope recalled last, kept for when it was not there.
  std::optional<std::pair<uint32_t, ScopeKey>> missed;
  // Keys are made while they fit in a few times the file: deeply nested
  // code, each of whose scopes' keys holds those nested in it, is built
  // afresh rather than have its keys grow with the square of the file.
  std::size_t key_budget = scope_key_budget(outline, source);
  // A scope in a statement kept from an earlier analysis has the shape it
  // had then: worked out once, and kept with the statement's outline.
  auto shape_of = [&](uint32_t definition) -> std::shared_ptr<const ScopeShape> {
    auto [part, place] = outline.part_holding(definition);
    const uint32_t end = outline[definition].subtree_end;
    const bool inside = part != nullptr && end != OutlineNode::kNone &&
                        end - definition <= part->nodes.size() - place;
    if (!inside) return std::make_shared<const ScopeShape>(scope_shape(outline, definition, source));
    std::shared_ptr<const ScopeShape>& kept = part->scope_shapes[place];
    if (!kept) kept = std::make_shared<const ScopeShape>(scope_shape(outline, definition, source));
    return kept;
  };
  ScopeRecall recall;
  if (memo) {
    recall = [&](uint32_t definition, std::vector<uint32_t>& nested) {
      // The parser may recover from an error another way once the text
      // around it changed: the same text then holds another tree, of which
      // the outline shows only part. A scope without errors parses as its
      // text alone says.
      if (has_error(outline[definition].node)) return false;
      const std::size_t size = scope_key_size(outline, definition);
      if (size > key_budget) return false;
      key_budget -= size;
      ScopeKey key = scope_key(shape_of(definition), outline, definition, facts.exempt);
      const ScopeFlowOutcome* outcome = memo->recall(key);
      if (!outcome) {
        missed.emplace(definition, std::move(key));
        return false;
      }
      proven.add(*outcome, definition);
      for (uint32_t place : outcome->nested) nested.push_back(definition + place);
      return true;
    };
  }
  build_flow_graphs(
      inputs,
      [&](ScopeBuild& scope) {
        const bool module_scope = scope.definition == OutlineNode::kNone;
        const uint32_t base = module_scope ? 0 : scope.definition;
        ScopeFlowOutcome outcome = outcome_of(scope, base);
        proven.add(outcome, base);
        // The module's own scope depends on the whole file: never kept.
        if (memo && !module_scope && missed && missed->first == scope.definition) {
          memo->keep(std::move(missed->second), std::move(outcome));
          missed.reset();
        }
      },
      recall);
  if (memo) memo->finish();
  proven.finish();
}

}  // namespace keyhound
