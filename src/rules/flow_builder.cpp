#include "rules/flow_builder.hpp"

#include <memory>
#include <string>
#include <utility>

#include "rules/expression_text.hpp"
#include "rules/key_text.hpp"
#include "rules/risk_origins.hpp"
#include "rules/scopes.hpp"
#include "rules/sequences.hpp"
#include "rules/stores_and_indexes.hpp"
#include "syntax/node_access.hpp"
#include "syntax/node_text.hpp"

namespace keyhound {
namespace {

constexpr uint32_t kNone = OutlineNode::kNone;
constexpr uint32_t kNoBlock = FlowBlock::kNoBlock;

// The graph of one scope, built from the outline with a stack of tasks in
// place of recursion: a task visits a node (as code, or as a test that
// ends in a true and a false block) or runs a step between visits.
class ScopeBuilder {
 public:
  ScopeBuilder(const FlowInputs& in, SuppressedCode& suppressed)
      : in_(in), k_(in.kinds), tests_(in.source, in.kinds), suppressed_(suppressed) {}

  // The graph of the scope whose code is `body`; `definition` is its `def`
  // or lambda (kNone for the module). Definitions met on the way are added
  // to `nested`.
  FlowGraph build(uint32_t body, uint32_t definition, std::vector<uint32_t>& nested);

 private:
  // What a task does: most are one of the plain ones, which need no
  // closure; a step runs between visits of a statement's parts.
  enum class Op : uint8_t { Visit, Test, Step, Query, CallEffects, DeleteEffects, Jump };
  struct Task {
    Op op = Op::Visit;
    uint32_t node = kNone;
    std::function<void()> step;
  };
  struct Loop {
    uint32_t head;
    uint32_t after;
    std::size_t finally_depth;
  };
  struct Finally {
    uint32_t entry;
    std::vector<uint32_t> onward;  // where jumps through it go on to
  };
  struct Branches {
    uint32_t when_true;
    uint32_t when_false;
  };
  // A loop's head (where each time round begins), its way out when the
  // test fails or the items run out, and what follows it.
  struct LoopBlocks {
    uint32_t head = kNoBlock;
    uint32_t exit = kNoBlock;
    uint32_t after = kNoBlock;
  };

  static Task code(uint32_t node) { return {Op::Visit, node, {}}; }
  static Task test(uint32_t node) { return {Op::Test, node, {}}; }
  static Task then(std::function<void()> step) { return {Op::Step, kNone, std::move(step)}; }
  void schedule(std::vector<Task> tasks) {
    for (auto it = tasks.rbegin(); it != tasks.rend(); ++it) tasks_.push_back(std::move(*it));
  }
  void run();
  void know_module_constants(uint32_t definition);
  void know_parameters(uint32_t definition);
  void add_probes();
  std::string root_name(TSNode node) const;
  LookupShape shape_of(TSNode value, TSNode index, const std::string& object) const;

  const OutlineNode& at(uint32_t index) const { return in_.outline[index]; }
  std::vector<uint32_t> children(uint32_t node) const;
  uint32_t child(uint32_t node, TSFieldId field) const { return in_.outline.child(node, field); }
  std::string text(TSNode node) const { return tests_.object_text(node); }

  uint32_t new_block();
  void edge(uint32_t from, uint32_t to) {
    if (from != kNoBlock && to != kNoBlock) graph_.blocks[from].successors.push_back(to);
  }
  uint32_t join(std::initializer_list<uint32_t> blocks);
  uint32_t join(const std::vector<uint32_t>& blocks);
  void gen(uint32_t block, const KeyPair& pair);
  void kill(std::string text, bool object_only = false);
  Branches pop_branches() {
    Branches top = branches_.back();
    branches_.pop_back();
    return top;
  }

  void visit(uint32_t node);
  void visit_test(uint32_t node);
  void visit_children(uint32_t node);
  // Pushes the plain task `op` on `node`, to run once its children are done.
  void then_visit_children(Op op, uint32_t node);
  void query(uint32_t node);
  void call_effects(uint32_t node);
  void delete_effects(uint32_t node);
  void jump(uint32_t node);
  void visit_subscript(uint32_t node);
  void visit_call(uint32_t node);
  void visit_assignment(uint32_t node);
  void visit_augmented_assignment(uint32_t node);
  void visit_delete(uint32_t node);
  void visit_definition(uint32_t node);
  void visit_class(uint32_t node);
  void visit_if(uint32_t node);
  void visit_while(uint32_t node);
  void close_loop(std::vector<Task>& tasks, const std::shared_ptr<LoopBlocks>& loop,
                  uint32_t node);
  void visit_for(uint32_t node);
  void visit_try(uint32_t node);
  void visit_with(uint32_t node);
  void visit_match(uint32_t node);
  void visit_jump(uint32_t node);
  void visit_boolean(uint32_t node);
  void visit_conditional(uint32_t node);
  void visit_comprehension(uint32_t node);

  void bind(TSNode target, TSNode value);
  void bind_loop(TSNode target, TSNode iterable);
  void know_origin(const std::string& bound, TSNode value);
  void resolve_derivations();
  void kill_names_within(TSNode node);
  void kill_imported(TSNode statement);
  bool suppresses_key_error(uint32_t with_clause) const;
  bool is_exhaustive(uint32_t case_clause) const;
  std::string operator_of(uint32_t boolean) const;

  const FlowInputs& in_;
  const PreciseKinds& k_;
  KeyTests tests_;
  SuppressedCode& suppressed_;

  FlowGraph graph_;
  uint32_t current_ = 0;
  std::vector<Task> tasks_;
  std::vector<Branches> branches_;
  std::vector<uint32_t> handlers_;  // where an exception goes, innermost last
  std::vector<Loop> loops_;
  std::vector<Finally> finallys_;
  std::unordered_set<const void*> targets_;  // subscripts being stored into
  std::vector<std::string> query_keys_;
  struct PendingDerivation {
    uint32_t derivation;
    std::string items;
    std::string target;
  };
  std::vector<PendingDerivation> pending_derivations_;
  // (derivation, the name copied from, the name bound): its origins.
  std::vector<PendingDerivation> pending_origin_copies_;
  int suppressing_ = 0;
  std::vector<uint32_t>* nested_ = nullptr;
  std::unordered_set<uint32_t> seen_definitions_;
  // How many `finally` clauses built twice enclose what is being built.
  int doubled_finallys_ = 0;
  static constexpr int kMostDoubledFinallys = 4;
};

std::vector<uint32_t> ScopeBuilder::children(uint32_t node) const {
  std::vector<uint32_t> list;
  for (uint32_t c = at(node).first_child; c != kNone; c = at(c).next_sibling) list.push_back(c);
  return list;
}

uint32_t ScopeBuilder::new_block() {
  graph_.blocks.emplace_back();
  graph_.blocks.back().handler = handlers_.empty() ? kNoBlock : handlers_.back();
  return static_cast<uint32_t>(graph_.blocks.size() - 1);
}

uint32_t ScopeBuilder::join(const std::vector<uint32_t>& blocks) {
  uint32_t joined = new_block();
  for (uint32_t block : blocks) edge(block, joined);
  return joined;
}

uint32_t ScopeBuilder::join(std::initializer_list<uint32_t> blocks) {
  return join(std::vector<uint32_t>(blocks));
}

void ScopeBuilder::gen(uint32_t block, const KeyPair& pair) {
  FactId fact = graph_.facts.intern(pair.object, pair.key, pair.origin);
  graph_.blocks[block].events.push_back({FlowEvent::Kind::Gen, fact});
}

void ScopeBuilder::kill(std::string text, bool object_only) {
  if (text.empty()) return;  // too long to be mentioned by a fact
  uint32_t kill = graph_.facts.kill(std::move(text), object_only);
  graph_.blocks[current_].events.push_back({FlowEvent::Kind::Kill, kill});
}

FlowGraph ScopeBuilder::build(uint32_t body, uint32_t definition, std::vector<uint32_t>& nested) {
  nested_ = &nested;
  current_ = new_block();
  if (body != kNone) schedule({code(body)});
  if (definition != kNone) know_parameters(definition);
  run();
  resolve_derivations();
  for (std::size_t i = 0; i < graph_.queries.size(); ++i) {
    graph_.queries[i].any_container = graph_.facts.find("", query_keys_[i]);
    graph_.queries[i].sequence =
        graph_.facts.find(graph_.facts.object(graph_.queries[i].fact), kSequenceKey);
  }
  if (definition != kNone) know_module_constants(definition);
  add_probes();
  graph_.facts.resolve_kills();
  return std::move(graph_);
}

// A function starts knowing the keys of the module's constant dicts that
// it reads, unless its parameters rebind the name.
void ScopeBuilder::know_module_constants(uint32_t definition) {
  if (in_.constants.empty()) return;
  uint32_t parameters = child(definition, k_.parameters_field);
  std::string bound =
      parameters == kNone ? std::string() : compact_text(at(parameters).node, in_.source);
  for (const FlowQuery& query : graph_.queries) {
    auto constant = in_.constants.find(graph_.facts.object(query.fact));
    if (constant == in_.constants.end() || !constant->second.contains(graph_.facts.key(query.fact)) ||
        mentions(bound, constant->first)) {
      continue;
    }
    graph_.initial.push_back(query.fact);
  }
}

// The name an expression starts from (`data` of `data["a"]["b"]`, `k` of
// `k.lower()`), when it starts from one.
std::string ScopeBuilder::root_name(TSNode node) const {
  while (!is_null(node)) {
    TSSymbol kind = node_kind(node);
    if (kind == k_.identifier) return text(node);
    if (kind == k_.subscript) {
      node = field_child(node, k_.value);
    } else if (kind == k_.attribute) {
      node = field_child(node, k_.object);
    } else if (kind == k_.call) {
      node = field_child(node, k_.function);
    } else if (kind == k_.parenthesized_expression && named_child_count(node) == 1) {
      node = named_child(node, 0);
    } else {
      break;
    }
  }
  return {};
}

LookupShape ScopeBuilder::shape_of(TSNode value, TSNode index, const std::string& object) const {
  LookupShape shape;
  shape.object = object;
  TSSymbol value_kind = node_kind(value);
  shape.object_is_name = value_kind == k_.identifier;
  shape.object_is_attribute = value_kind == k_.attribute;
  shape.object_is_call = value_kind == k_.call;
  if (std::optional<RiskOrigin> origin = origin_of_value(value, k_, in_.source)) {
    shape.written_origins = static_cast<uint16_t>(1U << static_cast<unsigned>(*origin));
  }
  auto constant = shape.object_is_name ? in_.constants.find(object) : in_.constants.end();
  shape.object_is_literal =
      value_kind == k_.dictionary ||
      (constant != in_.constants.end() &&
       !constant->second.contains(std::string(kFilledBeyondItsLiteral)));
  TSSymbol index_kind = node_kind(index);
  shape.constant_key = index_kind == k_.string || index_kind == k_.integer ||
                       index_kind == k_.concatenated_string || index_kind == k_.true_literal;
  if (!shape.constant_key) shape.key_root = root_name(index);
  return shape;
}

// The facts each query's ranking asks about: the origins of its container,
// of the name its container's chain starts from, and of its key's name.
void ScopeBuilder::add_probes() {
  // The origin facts of the scope, by the name or expression they are of:
  // one lookup per query's text, not one per origin.
  std::unordered_map<std::string_view, std::vector<std::pair<FactId, uint8_t>>> origins_of;
  std::unordered_map<std::string, uint8_t> origin_of_key;
  for (std::size_t o = 0; o < kRiskOriginCount; ++o) {
    origin_of_key.emplace(origin_key(static_cast<RiskOrigin>(o)), static_cast<uint8_t>(o));
  }
  for (FactId fact = 0; fact < graph_.facts.size(); ++fact) {
    auto origin = origin_of_key.find(graph_.facts.key(fact));
    if (origin != origin_of_key.end()) {
      origins_of[graph_.facts.object(fact)].emplace_back(fact, origin->second);
    }
  }
  if (origins_of.empty()) return;
  for (std::size_t q = 0; q < graph_.queries.size(); ++q) {
    const LookupShape& shape = graph_.shapes[q];
    std::string_view object = shape.object;
    std::string_view root = object.substr(0, object.find('['));
    std::array<std::string_view, kProbeSlots> texts = {object, root, shape.key_root};
    for (uint8_t slot = 0; slot < kProbeSlots; ++slot) {
      if (texts[slot].empty() || (slot == 1 && texts[1] == texts[0])) continue;
      auto found = origins_of.find(texts[slot]);
      if (found == origins_of.end()) continue;
      for (const auto& [fact, origin] : found->second) {
        graph_.probes.push_back({static_cast<uint32_t>(q), fact, slot, origin});
      }
    }
  }
}

// A function's parameters: (p, a parameter), and the `**` one's keys are
// the caller's keyword arguments.
void ScopeBuilder::know_parameters(uint32_t definition) {
  TSNode parameters = field_child(at(definition).node, k_.parameters_field);
  if (is_null(parameters)) return;
  uint32_t count = named_child_count(parameters);
  for (uint32_t i = 0; i < count; ++i) {
    TSNode parameter = named_child(parameters, i);
    TSSymbol kind = node_kind(parameter);
    RiskOrigin origin = RiskOrigin::Parameter;
    TSNode name = kind == k_.identifier ? parameter : field_child(parameter, k_.name);
    if (is_null(name) && named_child_count(parameter) > 0) name = named_child(parameter, 0);
    if (kind == k_.list_splat_pattern) continue;
    if (kind == k_.dictionary_splat_pattern) origin = RiskOrigin::Kwargs;
    if (is_null(name) || node_kind(name) != k_.identifier) continue;
    std::string text = this->text(name);
    if (i == 0 && (text == "self" || text == "cls")) continue;
    graph_.initial.push_back(graph_.facts.intern(text, origin_key(origin), FactOrigin::Known));
  }
}

void ScopeBuilder::run() {
  while (!tasks_.empty()) {
    Task task = std::move(tasks_.back());
    tasks_.pop_back();
    switch (task.op) {
      case Op::Visit:
        visit(task.node);
        break;
      case Op::Test:
        visit_test(task.node);
        break;
      case Op::Step:
        task.step();
        break;
      case Op::Query:
        query(task.node);
        break;
      case Op::CallEffects:
        call_effects(task.node);
        break;
      case Op::DeleteEffects:
        delete_effects(task.node);
        break;
      case Op::Jump:
        jump(task.node);
        break;
    }
  }
}

void ScopeBuilder::visit(uint32_t node) {
  TSSymbol kind = at(node).kind;
  if (kind == k_.subscript) return visit_subscript(node);
  if (kind == k_.call) return visit_call(node);
  if (kind == k_.assignment) return visit_assignment(node);
  if (kind == k_.augmented_assignment) return visit_augmented_assignment(node);
  if (kind == k_.delete_statement) return visit_delete(node);
  if (kind == k_.function_definition || kind == k_.lambda) return visit_definition(node);
  if (kind == k_.class_definition) return visit_class(node);
  if (kind == k_.if_statement) return visit_if(node);
  if (kind == k_.while_statement) return visit_while(node);
  if (kind == k_.for_statement) return visit_for(node);
  if (kind == k_.try_statement) return visit_try(node);
  if (kind == k_.with_statement) return visit_with(node);
  if (kind == k_.match_statement) return visit_match(node);
  if (kind == k_.boolean_operator) return visit_boolean(node);
  if (kind == k_.conditional_expression) return visit_conditional(node);
  if (kind == k_.list_comprehension || kind == k_.set_comprehension ||
      kind == k_.dictionary_comprehension || kind == k_.generator_expression) {
    return visit_comprehension(node);
  }
  if (kind == k_.return_statement || kind == k_.raise_statement ||
      kind == k_.break_statement || kind == k_.continue_statement) {
    return visit_jump(node);
  }
  if (kind == k_.assert_statement) {
    std::vector<uint32_t> parts = children(node);
    if (parts.empty()) return;
    return schedule({test(parts[0]), then([this] { current_ = pop_branches().when_true; })});
  }
  if (kind == k_.named_expression) {
    TSNode name = field_child(at(node).node, k_.name);
    uint32_t value = child(node, k_.value);
    return schedule({value == kNone ? then([] {}) : code(value),
                     then([this, name] { kill(text(name)); })});
  }
  if (kind == k_.global_statement || kind == k_.nonlocal_statement) {
    return kill_names_within(at(node).node);
  }
  if (kind == k_.import_statement || kind == k_.import_from_statement) {
    return kill_imported(at(node).node);
  }
  visit_children(node);
}

// The children in order: the first, on top, runs first.
void ScopeBuilder::visit_children(uint32_t node) {
  std::size_t count = 0;
  for (uint32_t c = at(node).first_child; c != kNone; c = at(c).next_sibling) ++count;
  std::size_t slot = tasks_.size() + count;
  tasks_.resize(slot);
  for (uint32_t c = at(node).first_child; c != kNone; c = at(c).next_sibling) {
    tasks_[--slot] = code(c);
  }
}

void ScopeBuilder::then_visit_children(Op op, uint32_t node) {
  tasks_.push_back({op, node, {}});
  visit_children(node);
}

// A test ends in two blocks, the paths on which it was true and false, each
// knowing what that says of keys; `and`, `or` and `not` combine them.
void ScopeBuilder::visit_test(uint32_t node) {
  TSSymbol kind = at(node).kind;
  std::vector<uint32_t> parts = children(node);
  if (kind == k_.parenthesized_expression && parts.size() == 1) {
    return schedule({test(parts[0])});
  }
  if (kind == k_.not_operator && parts.size() == 1) {
    return schedule({test(parts[0]), then([this] {
                       Branches b = pop_branches();
                       branches_.push_back({b.when_false, b.when_true});
                     })});
  }
  if (kind == k_.boolean_operator) {
    uint32_t left = child(node, k_.left);
    uint32_t right = child(node, k_.right);
    std::string op = operator_of(node);
    if (left != kNone && right != kNone && (op == "and" || op == "or")) {
      bool is_and = op == "and";
      auto first = std::make_shared<Branches>();
      return schedule({test(left), then([this, first, is_and] {
                         *first = pop_branches();
                         current_ = is_and ? first->when_true : first->when_false;
                       }),
                       test(right), then([this, first, is_and] {
                         Branches second = pop_branches();
                         if (is_and) {
                           branches_.push_back(
                               {second.when_true, join({first->when_false, second.when_false})});
                         } else {
                           branches_.push_back(
                               {join({first->when_true, second.when_true}), second.when_false});
                         }
                       })});
    }
  }
  schedule({code(node), then([this, node] {
              TSNode condition = at(node).node;
              std::vector<KeyPair> pairs;
              uint32_t when_true = new_block();
              edge(current_, when_true);
              tests_.when_true(condition, pairs);
              for (const KeyPair& pair : pairs) gen(when_true, pair);
              // `while True:` is never false.
              uint32_t when_false = new_block();
              std::string_view written = node_text(condition, in_.source);
              if (written != "True" && written != "1") edge(current_, when_false);
              pairs.clear();
              tests_.when_false(condition, pairs);
              for (const KeyPair& pair : pairs) gen(when_false, pair);
              branches_.push_back({when_true, when_false});
            })});
}

std::string ScopeBuilder::operator_of(uint32_t boolean) const {
  TSNode left = field_child(at(boolean).node, k_.left);
  TSNode right = field_child(at(boolean).node, k_.right);
  if (is_null(left) || is_null(right)) return {};
  return operator_between(left, right, in_.source);
}

// A lookup: what it reads runs first; then it asks whether its key is
// known, and from there on it is (had it not been there, it raised).
void ScopeBuilder::visit_subscript(uint32_t node) {
  if (targets_.contains(at(node).node.id)) return visit_children(node);
  then_visit_children(Op::Query, node);
}

void ScopeBuilder::query(uint32_t node) {
  TSNode subscript = at(node).node;
  if (suppressing_ > 0) suppressed_.subscripts.push_back(node);
  if (in_.exempt.contains(subscript.id)) return;
  SubscriptParts parts = subscript_parts(subscript, k_);
  if (!parts.plain || parts.index_count != 1 || is_null(parts.value)) return;
  std::string object = text(parts.value);
  std::string key = tests_.key_of(parts.first_index);
  if (object.empty() || key.empty()) {
    ++suppressed_.long_texts;
    return;
  }
  FactId fact = graph_.facts.intern(object, key, FactOrigin::Known);
  auto query = static_cast<uint32_t>(graph_.queries.size());
  graph_.queries.push_back({subscript.id, node, fact, FactTable::kNone, FactTable::kNone});
  graph_.shapes.push_back(shape_of(parts.value, parts.first_index, object));
  query_keys_.push_back(std::move(key));
  auto& events = graph_.blocks[current_].events;
  events.push_back({FlowEvent::Kind::Query, query});
  events.push_back({FlowEvent::Kind::Gen, fact});
}

// `d.pop(k)`, `d.popitem()` and `d.clear()` undo what was known of `d`;
// `d.setdefault(k, v)` makes `k` known.
void ScopeBuilder::visit_call(uint32_t node) { then_visit_children(Op::CallEffects, node); }

void ScopeBuilder::call_effects(uint32_t node) {
  TSNode call = at(node).node;
  if (suppressing_ > 0) suppressed_.calls.push_back(node);
  TSNode callee = field_child(call, k_.function);
  if (is_null(callee) || node_kind(callee) != k_.attribute) return;
  TSNode object = field_child(callee, k_.object);
  if (is_null(object)) return;
  std::string_view method = node_text(field_child(callee, k_.attribute_field), in_.source);
  if (method == "pop" || method == "popitem" || method == "clear") {
    kill(text(object), true);
  } else if (method == "append" || method == "extend" || method == "insert") {
    // Only a list (or its kin) has these: it is a sequence.
    std::string object_text = text(object);
    if (!object_text.empty()) {
      gen(current_,
          {std::move(object_text), std::string(kSequenceKey), FactOrigin::Position});
    }
  } else if (method == "setdefault") {
    TSNode arguments = field_child(call, k_.arguments);
    if (is_null(arguments) || named_child_count(arguments) == 0) return;
    TSNode key = named_child(arguments, 0);
    if (node_kind(key) == k_.keyword_argument) return;
    std::string object_text = text(object);
    std::string key_string = tests_.key_of(key);
    if (object_text.empty() || key_string.empty()) return;
    gen(current_, {std::move(object_text), std::move(key_string), FactOrigin::Known});
  }
}

// The value runs first, then the targets are bound: a subscript target is
// a store (its key is known), a name or attribute forgets what mentioned it
// and may learn the keys of the value it is bound to.
void ScopeBuilder::visit_assignment(uint32_t node) {
  uint32_t left = child(node, k_.left);
  uint32_t right = child(node, k_.right);
  if (left == kNone || right == kNone) return;  // an annotation alone binds nothing
  TSNode target = at(left).node;
  TSNode value = at(right).node;
  TSNode annotation = field_child(at(node).node, k_.type_field);
  schedule({code(right), then([this, target] {
              for_each_target(
                  target, k_, [&](TSNode subscript) { targets_.insert(subscript.id); },
                  [](TSNode) {});
            }),
            code(left), then([this, target, value, annotation] {
              bind(target, value);
              if (!is_null(annotation) &&
                  annotated_value(annotation, k_, in_.source) == BoundValue::Sequence) {
                std::string bound = text(target);
                if (!bound.empty()) {
                  gen(current_, {std::move(bound), std::string(kSequenceKey), FactOrigin::Position});
                }
              }
            })});
}

void ScopeBuilder::bind(TSNode target, TSNode value) {
  for_each_target(
      target, k_,
      [&](TSNode subscript) {
        kill(text(subscript));
        SubscriptParts parts = subscript_parts(subscript, k_);
        if (!parts.plain || parts.index_count != 1 || is_null(parts.value)) return;
        std::string object = text(parts.value);
        std::string key = tests_.key_of(parts.first_index);
        if (!object.empty() && !key.empty()) {
          gen(current_, {std::move(object), std::move(key), FactOrigin::Known});
        }
      },
      [&](TSNode name) { kill(text(name)); }, [&](TSNode attribute) { kill(text(attribute)); });
  TSSymbol target_kind = node_kind(target);
  if (target_kind != k_.identifier && target_kind != k_.attribute) return;
  std::string bound = text(target);
  if (bound.empty()) return;
  know_origin(bound, value);
  if (is_null(value)) return;
  TSSymbol value_kind = node_kind(value);
  if (assigned_value(value, k_, in_.source) == BoundValue::Sequence) {
    gen(current_, {bound, std::string(kSequenceKey), FactOrigin::Position});
    return;
  }
  // `d = {"a": ...}`: its string keys.
  if (value_kind == k_.dictionary) {
    for (std::string& key : literal_keys(value, k_, in_.source)) {
      gen(current_, {bound, std::move(key), FactOrigin::Known});
    }
    return;
  }
  if (value_kind == k_.dictionary_comprehension) {
    // `{k: ... for k in xs}` (one loop, no filter): every item of xs.
    TSNode element = field_child(value, k_.body);
    TSNode key = is_null(element) ? element : field_child(element, k_.key);
    if (is_null(key) || named_child_count(value) != 2) return;
    TSNode clause = named_child(value, 1);
    if (node_kind(clause) != k_.for_in_clause) return;
    TSNode loop_target = field_child(clause, k_.left);
    std::string items = text(field_child(clause, k_.right));
    if (is_null(loop_target) || items.empty() || text(loop_target) != text(key)) return;
    gen(current_, {bound, std::string(kEveryKeyOf) + items, FactOrigin::Known});
    return;
  }
  if (value_kind != k_.call) return;
  std::string_view callee = node_text(field_child(value, k_.function), in_.source);
  if (callee == "dict.fromkeys" || callee == "OrderedDict.fromkeys") {
    // `dict.fromkeys(xs)`: every item of xs.
    TSNode arguments = field_child(value, k_.arguments);
    if (is_null(arguments) || named_child_count(arguments) == 0) return;
    TSNode items = named_child(arguments, 0);
    std::string items_text = node_kind(items) == k_.keyword_argument ? std::string() : text(items);
    if (!items_text.empty()) {
      gen(current_, {bound, std::string(kEveryKeyOf) + items_text, FactOrigin::Known});
    }
    return;
  }
  TSNode arguments = field_child(value, k_.arguments);
  if (is_null(arguments) || node_kind(arguments) != k_.argument_list) return;
  uint32_t count = named_child_count(arguments);
  if (callee == "dict") {
    // `dict(a=...)`: its keyword names.
    for (uint32_t i = 0; i < count; ++i) {
      TSNode argument = named_child(arguments, i);
      if (node_kind(argument) != k_.keyword_argument) continue;
      TSNode name = field_child(argument, k_.name);
      if (!is_null(name)) gen(current_, {bound, quoted(node_text(name, in_.source)), FactOrigin::Known});
    }
  } else if (node_kind(field_child(value, k_.function)) == k_.attribute &&
             node_text(field_child(field_child(value, k_.function), k_.attribute_field),
                       in_.source) == "index" &&
             target_kind == k_.identifier) {
    // `i = xs.index(x)`: a position in `xs`.
    std::string object = text(field_child(field_child(value, k_.function), k_.object));
    if (!object.empty()) gen(current_, {std::move(object), bound, FactOrigin::Position});
  } else if (callee == "next" && count == 1 && target_kind == k_.identifier) {
    // `k = next(iter(d))`: a key of `d`.
    TSNode inner = named_child(arguments, 0);
    if (node_kind(inner) != k_.call ||
        node_text(field_child(inner, k_.function), in_.source) != "iter") {
      return;
    }
    TSNode iterated = field_child(inner, k_.arguments);
    if (is_null(iterated) || named_child_count(iterated) != 1) return;
    std::string object = text(named_child(iterated, 0));
    if (!object.empty()) gen(current_, {std::move(object), bound, FactOrigin::Known});
  }
}

// What a binding's value says of where it comes from: an origin of the
// table, or the origins of the name a lookup chain or a copy starts from.
void ScopeBuilder::know_origin(const std::string& bound, TSNode value) {
  gen(current_, {bound, origin_key(RiskOrigin::Local), FactOrigin::Known});
  if (is_null(value)) return;
  if (std::optional<RiskOrigin> origin = origin_of_value(value, k_, in_.source)) {
    gen(current_, {bound, origin_key(*origin), FactOrigin::Known});
    return;
  }
  TSSymbol kind = node_kind(value);
  if (kind != k_.identifier && kind != k_.subscript) return;
  std::string from = root_name(value);
  if (from.empty() || from == bound) return;
  auto derivation = static_cast<uint32_t>(graph_.derivations.size());
  graph_.derivations.emplace_back();
  pending_origin_copies_.push_back({derivation, std::move(from), bound});
  graph_.blocks[current_].events.push_back({FlowEvent::Kind::Derive, derivation});
}

// `d[k] += 1` reads the key before it stores it.
void ScopeBuilder::visit_augmented_assignment(uint32_t node) {
  uint32_t left = child(node, k_.left);
  uint32_t right = child(node, k_.right);
  if (left == kNone) return;
  TSNode target = at(left).node;
  schedule({code(left), right == kNone ? then([] {}) : code(right), then([this, target] {
              kill(text(target));
              if (node_kind(target) == k_.subscript) {
                SubscriptParts parts = subscript_parts(target, k_);
                if (!parts.plain || parts.index_count != 1 || is_null(parts.value)) return;
                std::string object = text(parts.value);
                std::string key = tests_.key_of(parts.first_index);
                if (!object.empty() && !key.empty()) {
                  gen(current_, {std::move(object), std::move(key), FactOrigin::Known});
                }
              }
            })});
}

// `del d[k]` looks the key up (it raises when the key is missing), then
// nothing is known of `d`; `del x` forgets `x`.
void ScopeBuilder::visit_delete(uint32_t node) { then_visit_children(Op::DeleteEffects, node); }

void ScopeBuilder::delete_effects(uint32_t node) {
  TSNode statement = at(node).node;
  std::vector<TSNode> pending;
  uint32_t count = named_child_count(statement);
  for (uint32_t i = 0; i < count; ++i) pending.push_back(named_child(statement, i));
  while (!pending.empty()) {
    TSNode target = pending.back();
    pending.pop_back();
    TSSymbol kind = node_kind(target);
    if (kind == k_.subscript) {
      kill(text(field_child(target, k_.value)), true);
    } else if (kind == k_.identifier || kind == k_.attribute) {
      kill(text(target));
    } else {
      uint32_t inner = named_child_count(target);
      for (uint32_t i = 0; i < inner; ++i) pending.push_back(named_child(target, i));
    }
  }
}

// A `def` or lambda: its defaults and annotations run here; its body is a
// scope of its own, built later; a `def` binds its name.
void ScopeBuilder::visit_definition(uint32_t node) {
  // Pushed as the stack runs them backwards: the children but the body, in
  // order, then the binding. Every definition of the module passes here, so
  // nothing is gathered on the way.
  tasks_.push_back(then([this, node] {
    // A `finally` is built twice; its definitions are scopes once. Outside
    // one, each definition comes here once.
    if (doubled_finallys_ == 0 || seen_definitions_.insert(node).second) {
      nested_->push_back(node);
    }
    TSNode name = field_child(at(node).node, k_.name);
    if (!is_null(name)) kill(text(name));
  }));
  const uint32_t body = child(node, k_.body);
  std::size_t count = 0;
  for (uint32_t c = at(node).first_child; c != kNone; c = at(c).next_sibling) {
    if (c != body) ++count;
  }
  std::size_t slot = tasks_.size() + count;
  tasks_.resize(slot);
  for (uint32_t c = at(node).first_child; c != kNone; c = at(c).next_sibling) {
    if (c != body) tasks_[--slot] = code(c);
  }
}

// A class body runs where the class is written.
void ScopeBuilder::visit_class(uint32_t node) {
  TSNode name = field_child(at(node).node, k_.name);
  std::vector<Task> tasks;
  for (uint32_t c : children(node)) tasks.push_back(code(c));
  tasks.push_back(then([this, name] {
    if (!is_null(name)) kill(text(name));
  }));
  schedule(std::move(tasks));
}

void ScopeBuilder::visit_if(uint32_t node) {
  struct State {
    std::vector<uint32_t> ends;
    uint32_t next = kNoBlock;
    bool has_else = false;
  };
  auto state = std::make_shared<State>();
  auto branch = [this, state] {
    Branches b = pop_branches();
    state->next = b.when_false;
    current_ = b.when_true;
  };
  auto close = [this, state] {
    state->ends.push_back(current_);
    current_ = state->next;
  };
  std::vector<Task> tasks;
  uint32_t condition = child(node, k_.condition);
  uint32_t consequence = child(node, k_.consequence);
  if (condition == kNone) return visit_children(node);
  tasks.push_back(test(condition));
  tasks.push_back(then(branch));
  if (consequence != kNone) tasks.push_back(code(consequence));
  tasks.push_back(then(close));
  for (uint32_t c : children(node)) {
    if (at(c).field != k_.alternative) continue;
    if (at(c).kind == k_.elif_clause) {
      uint32_t elif_condition = child(c, k_.condition);
      uint32_t elif_body = child(c, k_.consequence);
      if (elif_condition == kNone) continue;
      tasks.push_back(test(elif_condition));
      tasks.push_back(then(branch));
      if (elif_body != kNone) tasks.push_back(code(elif_body));
      tasks.push_back(then(close));
    } else {
      tasks.push_back(code(c));
      tasks.push_back(then([this, state] {
        state->has_else = true;
        state->ends.push_back(current_);
      }));
    }
  }
  tasks.push_back(then([this, state] {
    if (!state->has_else) state->ends.push_back(state->next);
    current_ = join(state->ends);
  }));
  schedule(std::move(tasks));
}

// The parts every loop shares once its head is built: the body, back to
// the head; the way out (where the test failed, or the items ran out)
// through the `else`; `break` past it.
void ScopeBuilder::close_loop(std::vector<Task>& tasks, const std::shared_ptr<LoopBlocks>& loop,
                              uint32_t node) {
  uint32_t body = child(node, k_.body);
  if (body != kNone) tasks.push_back(code(body));
  tasks.push_back(then([this, loop] {
    edge(current_, loop->head);
    loops_.pop_back();
    current_ = loop->exit;
  }));
  uint32_t otherwise = child(node, k_.alternative);
  if (otherwise != kNone) tasks.push_back(code(otherwise));
  tasks.push_back(then([this, loop] {
    edge(current_, loop->after);
    current_ = loop->after;
  }));
  schedule(std::move(tasks));
}

void ScopeBuilder::visit_while(uint32_t node) {
  auto loop = std::make_shared<LoopBlocks>();
  uint32_t condition = child(node, k_.condition);
  if (condition == kNone) return visit_children(node);
  std::vector<Task> tasks{then([this, loop] {
                            loop->head = new_block();
                            loop->after = new_block();
                            edge(current_, loop->head);
                            current_ = loop->head;
                          }),
                          test(condition), then([this, loop] {
                            Branches b = pop_branches();
                            loop->exit = b.when_false;
                            current_ = b.when_true;
                            loops_.push_back({loop->head, loop->after, finallys_.size()});
                          })};
  close_loop(tasks, loop, node);
}

// Each time round, the target is bound anew and, for a loop over a
// mapping's keys, holds one of them.
void ScopeBuilder::bind_loop(TSNode target, TSNode iterable) {
  bind(target, TSNode{});
  std::vector<KeyPair> pairs;
  tests_.of_iteration(target, iterable, pairs);
  for (const KeyPair& pair : pairs) gen(current_, pair);
  if (std::optional<RiskOrigin> origin = origin_of_items(iterable, k_, in_.source)) {
    std::string bound = text(target);
    if (!bound.empty()) gen(current_, {std::move(bound), origin_key(*origin), FactOrigin::Known});
  }
  // Whatever holds every item of the iterable holds the target's: decided
  // once the scope's facts are all known.
  if (node_kind(target) != k_.identifier || is_null(iterable)) return;
  std::string items = text(iterable);
  if (items.empty()) return;
  auto derivation = static_cast<uint32_t>(graph_.derivations.size());
  graph_.derivations.emplace_back();
  pending_derivations_.push_back({derivation, std::move(items), text(target)});
  graph_.blocks[current_].events.push_back({FlowEvent::Kind::Derive, derivation});
}

// `(V, every key of X)` for each such fact of the scope: in a loop over X,
// (V, the loop's target).
void ScopeBuilder::resolve_derivations() {
  for (const PendingDerivation& copy : pending_origin_copies_) {
    for (std::size_t o = 0; o < kRiskOriginCount; ++o) {
      auto origin = static_cast<RiskOrigin>(o);
      if (!is_outside_data(origin) && origin != RiskOrigin::CallResult &&
          origin != RiskOrigin::Parameter) {
        continue;
      }
      std::string key = origin_key(origin);
      FactId from = graph_.facts.find(copy.items, key);
      if (from == FactTable::kNone) continue;
      FactId to = graph_.facts.intern(copy.target, key, FactOrigin::Known);
      graph_.derivations[copy.derivation].emplace_back(from, to);
    }
  }
  if (pending_derivations_.empty()) return;
  std::unordered_map<std::string, std::vector<FactId>> holding_every_key;
  const std::size_t known = graph_.facts.size();
  for (FactId fact = 0; fact < known; ++fact) {
    std::string_view key = graph_.facts.key(fact);
    if (key.starts_with(kEveryKeyOf)) {
      holding_every_key[std::string(key.substr(kEveryKeyOf.size()))].push_back(fact);
    }
  }
  for (const PendingDerivation& pending : pending_derivations_) {
    auto found = holding_every_key.find(pending.items);
    if (found == holding_every_key.end()) continue;
    for (FactId every : found->second) {
      FactId each = graph_.facts.intern(graph_.facts.object(every), pending.target,
                                        graph_.facts.origin(every));
      graph_.derivations[pending.derivation].emplace_back(every, each);
    }
  }
}

void ScopeBuilder::visit_for(uint32_t node) {
  auto loop = std::make_shared<LoopBlocks>();
  uint32_t right = child(node, k_.right);
  TSNode target = field_child(at(node).node, k_.left);
  TSNode iterable = field_child(at(node).node, k_.right);
  std::vector<Task> tasks;
  if (right != kNone) tasks.push_back(code(right));
  tasks.push_back(then([this, loop, target, iterable] {
    loop->head = new_block();
    loop->after = new_block();
    loop->exit = new_block();
    edge(current_, loop->head);
    edge(loop->head, loop->exit);
    current_ = new_block();
    edge(loop->head, current_);
    if (!is_null(target)) bind_loop(target, iterable);
    loops_.push_back({loop->head, loop->after, finallys_.size()});
  }));
  close_loop(tasks, loop, node);
}

// An exception anywhere in the body goes to the handlers (each block of
// the body has an edge to where they start); a `finally` runs on every way
// out, and goes on to wherever each of them went.
void ScopeBuilder::visit_try(uint32_t node) {
  struct State {
    uint32_t dispatch = kNoBlock;
    uint32_t finally_entry = kNoBlock;
    uint32_t body_end = kNoBlock;
    uint32_t outer_handler = kNoBlock;
    std::vector<uint32_t> ends;
    std::vector<uint32_t> onward;
    bool twice = false;
  };
  auto state = std::make_shared<State>();
  uint32_t body = child(node, k_.body);
  std::vector<uint32_t> handlers;
  uint32_t otherwise = kNone;
  uint32_t final_clause = kNone;
  for (uint32_t c : children(node)) {
    TSSymbol kind = at(c).kind;
    if (kind == k_.except_clause || kind == k_.except_group_clause) handlers.push_back(c);
    if (kind == k_.else_clause) otherwise = c;
    if (kind == k_.finally_clause) final_clause = c;
  }
  bool has_handlers = !handlers.empty();
  bool has_finally = final_clause != kNone;
  std::vector<Task> tasks{then([this, state, has_handlers, has_finally] {
    state->outer_handler = handlers_.empty() ? kNoBlock : handlers_.back();
    if (has_finally) {
      state->finally_entry = new_block();
      finallys_.push_back({state->finally_entry, {}});
      handlers_.push_back(state->finally_entry);
    }
    if (has_handlers) {
      state->dispatch = new_block();
      handlers_.push_back(state->dispatch);
    }
    uint32_t start = new_block();
    edge(current_, start);
    current_ = start;
  })};
  if (body != kNone) tasks.push_back(code(body));
  tasks.push_back(then([this, state, has_handlers] {
    state->body_end = current_;
    if (has_handlers) handlers_.pop_back();
  }));
  for (uint32_t handler : handlers) {
    TSNode value = field_child(at(handler).node, k_.value);
    tasks.push_back(then([this, state, value] {
      current_ = new_block();
      edge(state->dispatch, current_);
      if (!is_null(value) && node_kind(value) == k_.as_pattern) {
        kill(text(field_child(value, k_.alias)));
      }
    }));
    for (uint32_t c : children(handler)) tasks.push_back(code(c));
    tasks.push_back(then([this, state] { state->ends.push_back(current_); }));
  }
  tasks.push_back(then([this, state] { current_ = state->body_end; }));
  if (otherwise != kNone) tasks.push_back(code(otherwise));
  tasks.push_back(then([this, state, has_finally] {
    state->ends.push_back(current_);
    current_ = join(state->ends);
    if (!has_finally) return;
    handlers_.pop_back();
    state->onward = std::move(finallys_.back().onward);
    finallys_.pop_back();
  }));
  if (has_finally) {
    // The `finally` is built twice: once for the ways out that go on after
    // the statement, once for the exceptions and jumps that go elsewhere;
    // what each way out knows stays its own. A `finally` within a `finally`
    // doubles again: past a few levels the ways out share one copy, which
    // knows only what all of them know, so that nesting costs no more than
    // its size.
    tasks.push_back(then([this, state] {
      state->twice = doubled_finallys_ < kMostDoubledFinallys;
      if (state->twice) {
        ++doubled_finallys_;
      } else {
        edge(current_, state->finally_entry);
        current_ = state->finally_entry;
      }
    }));
    tasks.push_back(code(final_clause));
    tasks.push_back(then([this, state, final_clause] {
      if (!state->twice) return;
      state->ends = {current_};
      current_ = state->finally_entry;
      schedule({code(final_clause)});
    }));
    tasks.push_back(then([this, state] {
      if (state->twice) {
        --doubled_finallys_;
      } else {
        state->ends = {new_block()};
        edge(current_, state->ends[0]);
      }
      for (uint32_t target : state->onward) edge(current_, target);
      // An exception that ran the `finally` goes on being raised.
      edge(current_, state->outer_handler);
      current_ = join(state->ends);
    }));
  }
  schedule(std::move(tasks));
}

// `with suppress(KeyError):` ends its body early, at the end of the
// statement, when a lookup in it raises; the lookups and calls in the body
// are guarded.
bool ScopeBuilder::suppresses_key_error(uint32_t with_clause) const {
  for (uint32_t item : children(with_clause)) {
    TSNode value = field_child(at(item).node, k_.value);
    if (is_null(value) || node_kind(value) != k_.call) continue;
    std::string_view callee = node_text(field_child(value, k_.function), in_.source);
    if (callee != "suppress" && callee != "contextlib.suppress") continue;
    TSNode arguments = field_child(value, k_.arguments);
    if (is_null(arguments)) continue;
    uint32_t count = named_child_count(arguments);
    for (uint32_t i = 0; i < count; ++i) {
      std::string_view name = node_text(named_child(arguments, i), in_.source);
      if (name.starts_with("builtins.")) name.remove_prefix(9);
      if (name == "KeyError" || name == "LookupError" || name == "Exception" ||
          name == "BaseException") {
        return true;
      }
    }
  }
  return false;
}

void ScopeBuilder::visit_with(uint32_t node) {
  uint32_t clause = kNone;
  uint32_t body = child(node, k_.body);
  for (uint32_t c : children(node)) {
    if (at(c).kind == k_.with_clause) clause = c;
  }
  bool suppress = clause != kNone && suppresses_key_error(clause);
  auto after = std::make_shared<uint32_t>(kNoBlock);
  std::vector<Task> tasks;
  if (clause != kNone) tasks.push_back(code(clause));
  tasks.push_back(then([this, clause, suppress, after] {
    if (clause != kNone) {
      for (uint32_t item : children(clause)) {
        TSNode value = field_child(at(item).node, k_.value);
        if (!is_null(value) && node_kind(value) == k_.as_pattern) {
          kill_names_within(field_child(value, k_.alias));
        }
      }
    }
    if (!suppress) return;
    *after = new_block();
    handlers_.push_back(*after);
    ++suppressing_;
    uint32_t start = new_block();
    edge(current_, start);
    current_ = start;
  }));
  if (body != kNone) tasks.push_back(code(body));
  tasks.push_back(then([this, suppress, after] {
    if (!suppress) return;
    --suppressing_;
    handlers_.pop_back();
    edge(current_, *after);
    current_ = *after;
  }));
  schedule(std::move(tasks));
}

// `case _:` and a bare capture without a guard match anything.
bool ScopeBuilder::is_exhaustive(uint32_t case_clause) const {
  TSNode clause = at(case_clause).node;
  if (!is_null(field_child(clause, k_.guard))) return false;
  uint32_t count = named_child_count(clause);
  uint32_t patterns = 0;
  bool catch_all = false;
  for (uint32_t i = 0; i < count; ++i) {
    TSNode part = named_child(clause, i);
    if (node_kind(part) != k_.case_pattern) continue;
    ++patterns;
    uint32_t inner = named_child_count(part);
    if (inner == 0) {
      catch_all = true;
    } else if (inner == 1) {
      TSNode only = named_child(part, 0);
      catch_all = node_kind(only) == k_.dotted_name && named_child_count(only) == 1;
    }
  }
  return patterns == 1 && catch_all;
}

void ScopeBuilder::visit_match(uint32_t node) {
  struct State {
    uint32_t next = kNoBlock;
    uint32_t entry = kNoBlock;
    uint32_t failed = kNoBlock;
    std::vector<uint32_t> ends;
  };
  auto state = std::make_shared<State>();
  uint32_t subject = child(node, k_.subject);
  uint32_t body = child(node, k_.body);
  std::vector<Task> tasks;
  if (subject != kNone) tasks.push_back(code(subject));
  tasks.push_back(then([this, state] { state->next = current_; }));
  if (body != kNone) {
    for (uint32_t clause : children(body)) {
      if (at(clause).kind != k_.case_clause) continue;
      TSNode clause_node = at(clause).node;
      uint32_t guard = child(clause, k_.guard);
      uint32_t consequence = child(clause, k_.consequence);
      tasks.push_back(then([this, state, clause_node] {
        current_ = new_block();
        edge(state->next, current_);
        uint32_t count = named_child_count(clause_node);
        for (uint32_t i = 0; i < count; ++i) {
          TSNode part = named_child(clause_node, i);
          if (node_kind(part) == k_.case_pattern) kill_names_within(part);
        }
        // The pattern's failure leaves from here, before the body runs.
        state->entry = current_;
        state->failed = kNoBlock;
        current_ = new_block();
        edge(state->entry, current_);
      }));
      if (guard != kNone) {
        std::vector<uint32_t> inside = children(guard);
        if (!inside.empty()) {
          tasks.push_back(test(inside[0]));
          tasks.push_back(then([this, state] {
            Branches b = pop_branches();
            state->failed = b.when_false;
            current_ = b.when_true;
          }));
        }
      }
      if (consequence != kNone) tasks.push_back(code(consequence));
      bool exhaustive = is_exhaustive(clause);
      tasks.push_back(then([this, state, exhaustive] {
        state->ends.push_back(current_);
        state->next = new_block();
        if (!exhaustive) edge(state->entry, state->next);
        edge(state->failed, state->next);
      }));
    }
  }
  tasks.push_back(then([this, state] {
    state->ends.push_back(state->next);
    current_ = join(state->ends);
  }));
  schedule(std::move(tasks));
}

// `return`, `raise`, `break`, `continue`: what follows them in their block
// is reached by no path. A jump out of a `try` with a `finally` goes
// through it.
void ScopeBuilder::visit_jump(uint32_t node) { then_visit_children(Op::Jump, node); }

void ScopeBuilder::jump(uint32_t node) {
  TSSymbol kind = at(node).kind;
  if (kind == k_.break_statement || kind == k_.continue_statement) {
    if (!loops_.empty()) {
      const Loop& loop = loops_.back();
      uint32_t target = kind == k_.break_statement ? loop.after : loop.head;
      if (finallys_.size() > loop.finally_depth) {
        edge(current_, finallys_.back().entry);
        finallys_.back().onward.push_back(target);
      } else {
        edge(current_, target);
      }
    }
  } else if (kind == k_.return_statement && !finallys_.empty()) {
    edge(current_, finallys_.back().entry);
  }
  current_ = new_block();
}

// `a and b` as a value: `b` runs only where `a` was true.
void ScopeBuilder::visit_boolean(uint32_t node) {
  uint32_t left = child(node, k_.left);
  uint32_t right = child(node, k_.right);
  std::string op = operator_of(node);
  if (left == kNone || right == kNone || (op != "and" && op != "or")) return visit_children(node);
  bool is_and = op == "and";
  auto skipped = std::make_shared<uint32_t>(kNoBlock);
  schedule({test(left), then([this, skipped, is_and] {
              Branches b = pop_branches();
              *skipped = is_and ? b.when_false : b.when_true;
              current_ = is_and ? b.when_true : b.when_false;
            }),
            code(right), then([this, skipped] { current_ = join({*skipped, current_}); })});
}

// `x if c else y`: `c` runs first.
void ScopeBuilder::visit_conditional(uint32_t node) {
  std::vector<uint32_t> parts = children(node);
  if (parts.size() != 3) return visit_children(node);
  auto other = std::make_shared<Branches>();
  schedule({test(parts[1]), then([this, other] {
              *other = pop_branches();
              current_ = other->when_true;
            }),
            code(parts[0]), then([this, other] {
              other->when_true = current_;
              current_ = other->when_false;
            }),
            code(parts[2]),
            then([this, other] { current_ = join({other->when_true, current_}); })});
}

// `[x for a in b if c for d in e]`: `b` runs first, then, each time round,
// the clauses in order and the element; the clauses' loops are one loop
// here, which knows no less than the nested loops do.
void ScopeBuilder::visit_comprehension(uint32_t node) {
  uint32_t element = child(node, k_.body);
  std::vector<uint32_t> clauses;
  for (uint32_t c : children(node)) {
    if (at(c).kind == k_.for_in_clause || at(c).kind == k_.if_clause) clauses.push_back(c);
  }
  if (clauses.empty() || at(clauses[0]).kind != k_.for_in_clause) return visit_children(node);
  auto head = std::make_shared<uint32_t>(kNoBlock);
  std::vector<Task> tasks;
  for (std::size_t i = 0; i < clauses.size(); ++i) {
    uint32_t clause = clauses[i];
    if (at(clause).kind == k_.if_clause) {
      std::vector<uint32_t> inside = children(clause);
      if (inside.empty()) continue;
      tasks.push_back(test(inside[0]));
      tasks.push_back(then([this, head] {
        Branches b = pop_branches();
        edge(b.when_false, *head);
        current_ = b.when_true;
      }));
      continue;
    }
    uint32_t right = child(clause, k_.right);
    if (right != kNone) tasks.push_back(code(right));
    TSNode target = field_child(at(clause).node, k_.left);
    TSNode iterable = field_child(at(clause).node, k_.right);
    bool first = i == 0;
    tasks.push_back(then([this, head, target, iterable, first] {
      if (first) {
        *head = new_block();
        edge(current_, *head);
        current_ = new_block();
        edge(*head, current_);
      }
      if (!is_null(target)) bind_loop(target, iterable);
    }));
  }
  if (element != kNone) tasks.push_back(code(element));
  tasks.push_back(then([this, head] {
    edge(current_, *head);
    current_ = new_block();
    edge(*head, current_);
  }));
  schedule(std::move(tasks));
}

void ScopeBuilder::kill_names_within(TSNode node) {
  if (is_null(node)) return;
  std::vector<TSNode> pending{node};
  while (!pending.empty()) {
    TSNode current = pending.back();
    pending.pop_back();
    if (node_kind(current) == k_.identifier) {
      kill(text(current));
      continue;
    }
    uint32_t count = named_child_count(current);
    for (uint32_t i = 0; i < count; ++i) pending.push_back(named_child(current, i));
  }
}

// What an import binds: an alias, or the first name of a dotted module.
void ScopeBuilder::kill_imported(TSNode statement) {
  uint32_t count = named_child_count(statement);
  for (uint32_t i = 0; i < count; ++i) {
    TSNode part = named_child(statement, i);
    if (node_kind(part) == k_.aliased_import) {
      kill(text(field_child(part, k_.alias)));
    } else if (node_kind(part) == k_.dotted_name && named_child_count(part) > 0) {
      kill(text(named_child(part, 0)));
    }
  }
}

// The definitions in the module's own code (outside every function's and
// lambda's body), each once its code outside its body was met, as the
// module's walk meets them; or false, with nothing gathered, when that code
// holds work, which only the module's graph answers.
bool gather_module_definitions(const FlowInputs& inputs,
                               const std::function<bool(const OutlineNode&)>& is_work,
                               std::vector<uint32_t>& nested) {
  const SyntaxOutline& outline = inputs.outline;
  const PreciseKinds& k = inputs.kinds;
  const auto count = static_cast<uint32_t>(outline.nodes().size());
  auto end_of = [&](uint32_t node) {
    const uint32_t end = outline[node].subtree_end;
    return end == kNone ? count : end;
  };
  const std::size_t before = nested.size();
  // Definitions whose code outside their body is being met, innermost
  // last, with where that code ends.
  std::vector<std::pair<uint32_t, uint32_t>> open;
  uint32_t index = 1;
  for (;;) {
    while (!open.empty() && index >= open.back().second) {
      nested.push_back(open.back().first);
      index = std::max(index, end_of(open.back().first));
      open.pop_back();
    }
    if (index >= count) break;
    const OutlineNode& node = outline[index];
    if (is_work(node)) {
      nested.resize(before);
      return false;
    }
    if (node.kind == k.function_definition || node.kind == k.lambda) {
      const uint32_t body = outline.child(index, k.body);
      open.emplace_back(index, body != kNone ? body : end_of(index));
    }
    ++index;
  }
  return true;
}

}  // namespace

void build_flow_graphs(const FlowInputs& inputs, const std::function<void(ScopeBuild&)>& done,
                       const ScopeRecall& recall) {
  const SyntaxOutline& outline = inputs.outline;
  if (outline.nodes().empty()) return;
  // How many nodes before each one would give a scope something to do: a
  // lookup no other rule took out, or a `with` that may guard. A scope
  // whose code holds none is not built (nor are the scopes inside it).
  auto is_work = [&](const OutlineNode& node) {
    return (node.kind == inputs.kinds.subscript && !inputs.exempt.contains(node.node.id)) ||
           node.kind == inputs.kinds.with_statement;
  };
  std::vector<uint32_t> work_before(outline.nodes().size() + 1, 0);
  for (std::size_t i = 0; i < outline.nodes().size(); ++i) {
    const bool work = is_work(outline[static_cast<uint32_t>(i)]);
    work_before[i + 1] = work_before[i] + (work ? 1 : 0);
  }
  auto has_work = [&](uint32_t body) {
    if (body == kNone) return false;
    uint32_t end = outline[body].subtree_end;
    if (end == kNone) end = static_cast<uint32_t>(outline.nodes().size());
    return work_before[end] > work_before[body];
  };
  std::vector<uint32_t> pending;
  auto build = [&](uint32_t body, uint32_t definition) {
    ScopeBuild scope{.definition = definition, .graph = {}, .suppressed = {}, .nested = {}};
    const std::size_t before = pending.size();
    ScopeBuilder builder(inputs, scope.suppressed);
    scope.graph = builder.build(body, definition, pending);
    scope.nested.assign(pending.begin() + static_cast<std::ptrdiff_t>(before), pending.end());
    done(scope);
  };
  // A module whose own code asks nothing needs no graph of its own, only
  // the definitions in it: in a large module, most of a keystroke's cost.
  if (has_work(0) && !gather_module_definitions(inputs, is_work, pending)) build(0, kNone);
  while (!pending.empty()) {
    uint32_t definition = pending.back();
    pending.pop_back();
    uint32_t body = outline.child(definition, inputs.kinds.body);
    if (!has_work(body)) continue;
    if (recall && recall(definition, pending)) continue;
    build(body, definition);
  }
}

}  // namespace keyhound
