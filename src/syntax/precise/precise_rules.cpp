#include "syntax/precise/precise_rules.hpp"

#include <cstring>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "syntax/node_text.hpp"
#include "syntax/python_grammar.hpp"
#include "syntax/tree_sitter_handles.hpp"

namespace keyhound {
namespace {

TSSymbol symbol(const char* name) { return grammar_symbol(name); }
TSFieldId field(const char* name) { return grammar_field(name); }

// The node kinds and fields the rules look at, looked up once; a kind the
// grammar does not know faults at the first use.
struct Kinds {
  TSSymbol subscript = symbol("subscript");
  TSSymbol assignment = symbol("assignment");
  TSSymbol for_statement = symbol("for_statement");
  TSSymbol for_in_clause = symbol("for_in_clause");
  TSSymbol pattern_list = symbol("pattern_list");
  TSSymbol tuple_pattern = symbol("tuple_pattern");
  TSSymbol list_pattern = symbol("list_pattern");
  TSSymbol tuple = symbol("tuple");
  TSSymbol list = symbol("list");
  TSSymbol parenthesized_expression = symbol("parenthesized_expression");
  TSSymbol list_splat_pattern = symbol("list_splat_pattern");
  TSSymbol slice = symbol("slice");
  TSSymbol integer = symbol("integer");
  TSSymbol unary_operator = symbol("unary_operator");
  TSSymbol type = symbol("type");
  TSSymbol class_definition = symbol("class_definition");
  TSSymbol function_definition = symbol("function_definition");
  TSSymbol identifier = symbol("identifier");
  TSSymbol attribute = symbol("attribute");
  TSSymbol call = symbol("call");
  TSSymbol if_statement = symbol("if_statement");
  TSSymbol elif_clause = symbol("elif_clause");
  TSSymbol while_statement = symbol("while_statement");
  TSSymbol conditional_expression = symbol("conditional_expression");
  TSSymbol boolean_operator = symbol("boolean_operator");
  TSSymbol comparison_operator = symbol("comparison_operator");
  TSSymbol assert_statement = symbol("assert_statement");
  TSSymbol return_statement = symbol("return_statement");
  TSSymbol raise_statement = symbol("raise_statement");
  TSSymbol continue_statement = symbol("continue_statement");
  TSSymbol break_statement = symbol("break_statement");
  TSSymbol list_comprehension = symbol("list_comprehension");
  TSSymbol set_comprehension = symbol("set_comprehension");
  TSSymbol dictionary_comprehension = symbol("dictionary_comprehension");
  TSSymbol generator_expression = symbol("generator_expression");
  TSSymbol aliased_import = symbol("aliased_import");
  TSSymbol import_statement = symbol("import_statement");
  TSSymbol import_from_statement = symbol("import_from_statement");
  TSSymbol with_item = symbol("with_item");
  TSSymbol as_pattern = symbol("as_pattern");

  TSFieldId left = field("left");
  TSFieldId right = field("right");
  TSFieldId value = field("value");
  TSFieldId subscript_field = field("subscript");
  TSFieldId superclasses = field("superclasses");
  TSFieldId condition = field("condition");
  TSFieldId consequence = field("consequence");
  TSFieldId alternative = field("alternative");
  TSFieldId body = field("body");
  TSFieldId name = field("name");
  TSFieldId alias = field("alias");
  TSFieldId function = field("function");
  TSFieldId object = field("object");
  TSFieldId attribute_field = field("attribute");
  TSFieldId parameters_field = field("parameters");
};

const Kinds& kinds() {
  static const Kinds table;
  return table;
}

// Generic aliases of the builtins and of typing, written down once: a
// subscript of one of these names is a type, not a lookup.
const std::unordered_set<std::string_view>& generic_names() {
  static const std::unordered_set<std::string_view> names = {
      "dict", "list", "tuple", "set", "frozenset", "type", "Dict", "List", "Tuple", "Set",
      "FrozenSet", "Type", "Optional", "Union", "Callable", "Literal", "Annotated", "ClassVar",
      "Final", "Generic", "Protocol", "Iterable", "Iterator", "Generator", "AsyncIterable",
      "AsyncIterator", "AsyncGenerator", "Sequence", "MutableSequence", "Mapping",
      "MutableMapping", "AbstractSet", "MutableSet", "Collection", "Container", "Awaitable",
      "Coroutine", "Reversible", "Deque", "DefaultDict", "OrderedDict", "Counter", "ChainMap",
      "Concatenate", "TypeGuard", "TypeIs", "Unpack", "Required", "NotRequired", "ReadOnly",
      "IO", "Pattern", "Match", "ContextManager", "AsyncContextManager", "NamedTuple",
      "TypedDict", "Self", "LiteralString", "Never", "NoReturn"};
  return names;
}

// The text of a node without any white space, for comparing expressions.
std::string compact_text(TSNode node, std::string_view source) {
  std::string text;
  for (char c : node_text(node, source)) {
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != '\\' && c != '\f') text += c;
  }
  return text;
}

using Pair = std::pair<std::string, std::string>;  // (container V, key K)

struct Guard {
  uint32_t depth;
  Pair pair;
};

// A guard waiting for the child of a statement that it covers: the child in
// `child_field`, or (field 0) the node `child`.
struct PendingGuard {
  uint32_t parent_depth;
  TSFieldId child_field;
  const void* child;
  std::vector<Pair> pairs;
};

struct Scope {
  std::size_t parent;
  bool is_class;
  // Names defined here by `def`, and names bound here otherwise.
  std::unordered_set<std::string> defs;
  std::unordered_set<std::string> bindings;
  // Per name: how many bindings are defaultdict or Counter calls, and how many are not.
  std::unordered_map<std::string, std::pair<std::size_t, std::size_t>> containers;
};

}  // namespace

class PreciseClassifier final : public WalkObserver {
 public:
  explicit PreciseClassifier(std::string_view source) : source_(source), k_(kinds()) {
    scopes_.push_back(Scope{0, false, {}, {}, {}});
    scope_stack_.push_back({0, 0});
  }

  PreciseFacts finish() {
    settle();
    return std::move(facts_);
  }

  void enter(TSNode node, TSSymbol kind, TSFieldId field_id, uint32_t depth) override;
  void leave(uint32_t depth) override;

 private:
  std::size_t scope() const { return scope_stack_.back().second; }


  void enter_node(TSNode node, TSSymbol kind, TSFieldId field_id, uint32_t depth) {
    if (depth == 0) file_has_error_ = ts_node_has_error(node);
    if (file_has_error_ && !facts_.first_error &&
        (ts_node_is_error(node) || ts_node_is_missing(node))) {
      facts_.first_error = node;
    }
    // Guards that wait for this child.
    for (const PendingGuard& pending : pending_) {
      if (pending.parent_depth + 1 != depth) continue;
      bool wanted = pending.child_field == 0 ? node.id == pending.child
                                             : field_id == pending.child_field;
      if (wanted) {
        for (const Pair& pair : pending.pairs) guards_.push_back({depth, pair});
      }
    }
    if (role_of(kind) == Role::None && field_id != k_.superclasses) return;

    if (kind == k_.type || (field_id == k_.superclasses)) annotation_depths_.push_back(depth);

    if (kind == k_.function_definition || kind == k_.class_definition) {
      TSNode name = ts_node_child_by_field_id(node, k_.name);
      if (!ts_node_is_null(name)) {
        std::string text(node_text(name, source_));
        if (kind == k_.function_definition) {
          scopes_[scope()].defs.insert(text);
        } else {
          scopes_[scope()].bindings.insert(text);
        }
      }
      scopes_.push_back(Scope{scope(), kind == k_.class_definition, {}, {}, {}});
      scope_stack_.push_back({depth, scopes_.size() - 1});
      if (kind == k_.function_definition) bind_parameters(node);
    } else if (kind == k_.assignment) {
      on_assignment(node);
    } else if (kind == k_.for_statement || kind == k_.for_in_clause) {
      TSNode left = ts_node_child_by_field_id(node, k_.left);
      if (!ts_node_is_null(left)) mark_targets(left, true, true);
      if (kind == k_.for_statement) {
        std::vector<Pair> pairs = iteration_pairs(node);
        if (!pairs.empty()) pending_.push_back({depth, k_.body, nullptr, std::move(pairs)});
      }
    } else if (kind == k_.list_comprehension || kind == k_.set_comprehension ||
               kind == k_.dictionary_comprehension || kind == k_.generator_expression) {
      // Every `for k in d` clause guards the whole comprehension.
      uint32_t count = ts_node_named_child_count(node);
      for (uint32_t i = 0; i < count; ++i) {
        TSNode clause = ts_node_named_child(node, i);
        if (ts_node_symbol(clause) != k_.for_in_clause) continue;
        for (Pair& pair : iteration_pairs(clause)) guards_.push_back({depth, std::move(pair)});
      }
    } else if (kind == k_.if_statement || kind == k_.elif_clause || kind == k_.while_statement) {
      TSNode condition = ts_node_child_by_field_id(node, k_.condition);
      std::vector<Pair> pairs;
      if (!ts_node_is_null(condition)) collect_pairs(condition, "in", pairs);
      TSFieldId covered = kind == k_.while_statement ? k_.body : k_.consequence;
      if (!pairs.empty()) pending_.push_back({depth, covered, nullptr, std::move(pairs)});
      if (kind == k_.if_statement && !ts_node_is_null(condition)) early_exit(node, condition, depth);
    } else if (kind == k_.conditional_expression) {
      uint32_t count = ts_node_named_child_count(node);
      if (count >= 2) {
        std::vector<Pair> pairs;
        collect_pairs(ts_node_named_child(node, 1), "in", pairs);
        if (!pairs.empty()) {
          pending_.push_back({depth, 0, ts_node_named_child(node, 0).id, std::move(pairs)});
        }
      }
    } else if (kind == k_.boolean_operator) {
      TSNode left = ts_node_child_by_field_id(node, k_.left);
      TSNode right = ts_node_child_by_field_id(node, k_.right);
      if (!ts_node_is_null(left) && !ts_node_is_null(right) &&
          operator_between(left, right) == "and") {
        std::vector<Pair> pairs;
        collect_pairs(left, "in", pairs);
        if (!pairs.empty()) pending_.push_back({depth, k_.right, nullptr, std::move(pairs)});
      }
    } else if (kind == k_.assert_statement && depth > 0) {
      std::vector<Pair> pairs;
      if (ts_node_named_child_count(node) > 0) collect_pairs(ts_node_named_child(node, 0), "in", pairs);
      // The rest of the block holding the assert.
      for (Pair& pair : pairs) guards_.push_back({depth - 1, std::move(pair)});
    } else if (kind == k_.aliased_import) {
      on_aliased_import(node);
    } else if (kind == k_.import_statement || kind == k_.import_from_statement) {
      bind_imports(node);
    } else if (kind == k_.with_item) {
      TSNode value = ts_node_child_by_field_id(node, k_.value);
      if (!ts_node_is_null(value) && ts_node_symbol(value) == k_.as_pattern) bind_names(value);
    } else if (kind == k_.subscript) {
      on_subscript(node);
    } else if (kind == k_.call) {
      TSNode callee = ts_node_child_by_field_id(node, k_.function);
      if (!ts_node_is_null(callee) && ts_node_symbol(callee) == k_.identifier) {
        calls_.push_back({node.id, std::string(node_text(callee, source_)), scope()});
      }
    }
  }

  void leave_node(uint32_t depth) {
    while (!guards_.empty() && guards_.back().depth >= depth) guards_.pop_back();
    while (!pending_.empty() && pending_.back().parent_depth >= depth) pending_.pop_back();
    while (!annotation_depths_.empty() && annotation_depths_.back() >= depth) {
      annotation_depths_.pop_back();
    }
    if (scope_stack_.size() > 1 && scope_stack_.back().first == depth) scope_stack_.pop_back();
    // `if k not in d: return` guards what follows it in its block.
    while (!after_exit_.empty() && after_exit_.back().depth == depth) {
      Guard guard = std::move(after_exit_.back());
      after_exit_.pop_back();
      if (depth > 0) guards_.push_back({depth - 1, std::move(guard.pair)});
    }
  }

  // The operator written between two operands: "and", "in", "notin", ...
  std::string operator_between(TSNode left, TSNode right) const {
    uint32_t from = ts_node_end_byte(left);
    uint32_t to = ts_node_start_byte(right);
    std::string text;
    for (uint32_t i = from; i < to && i < source_.size(); ++i) {
      char c = source_[i];
      if (c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != '\\') text += c;
    }
    return text;
  }

  // `k in d` tests of a condition: the whole condition, or the operands of
  // its top-level `and`, brackets unwrapped.
  void collect_pairs(TSNode condition, std::string_view op, std::vector<Pair>& pairs) const {
    std::vector<TSNode> pending{condition};
    while (!pending.empty()) {
      TSNode node = pending.back();
      pending.pop_back();
      TSSymbol kind = ts_node_symbol(node);
      if (kind == k_.parenthesized_expression && ts_node_named_child_count(node) == 1) {
        pending.push_back(ts_node_named_child(node, 0));
      } else if (kind == k_.boolean_operator && op == "in") {
        TSNode left = ts_node_child_by_field_id(node, k_.left);
        TSNode right = ts_node_child_by_field_id(node, k_.right);
        if (!ts_node_is_null(left) && !ts_node_is_null(right) &&
            operator_between(left, right) == "and") {
          pending.push_back(right);
          pending.push_back(left);
        }
      } else if (kind == k_.comparison_operator && ts_node_named_child_count(node) == 2) {
        TSNode key = ts_node_named_child(node, 0);
        TSNode container = ts_node_named_child(node, 1);
        if (operator_between(key, container) == op) {
          pairs.emplace_back(compact_text(container, source_), compact_text(key, source_));
        }
      }
    }
  }

  // `for k in d`, `for k in d.keys()`, `for k, v in d.items()`.
  std::vector<Pair> iteration_pairs(TSNode loop) const {
    TSNode left = ts_node_child_by_field_id(loop, k_.left);
    TSNode right = ts_node_child_by_field_id(loop, k_.right);
    if (ts_node_is_null(left) || ts_node_is_null(right)) return {};
    TSNode container = right;
    bool items = false;
    if (ts_node_symbol(right) == k_.call) {
      TSNode callee = ts_node_child_by_field_id(right, k_.function);
      if (ts_node_is_null(callee) || ts_node_symbol(callee) != k_.attribute) return {};
      std::string_view method = node_text(ts_node_child_by_field_id(callee, k_.attribute_field), source_);
      if (method != "keys" && method != "items") return {};
      items = method == "items";
      container = ts_node_child_by_field_id(callee, k_.object);
      if (ts_node_is_null(container)) return {};
    }
    TSNode key = left;
    if (items) {
      TSSymbol kind = ts_node_symbol(left);
      if ((kind != k_.pattern_list && kind != k_.tuple_pattern) ||
          ts_node_named_child_count(left) == 0) {
        return {};
      }
      key = ts_node_named_child(left, 0);
    }
    if (ts_node_symbol(key) != k_.identifier) return {};
    return {Pair{compact_text(container, source_), compact_text(key, source_)}};
  }

  // `if k not in d:` whose body always leaves, with no else: what follows
  // the if statement in its block is guarded.
  void early_exit(TSNode statement, TSNode condition, uint32_t depth) {
    if (!ts_node_is_null(ts_node_child_by_field_id(statement, k_.alternative))) return;
    TSNode body = ts_node_child_by_field_id(statement, k_.consequence);
    if (ts_node_is_null(body) || ts_node_named_child_count(body) == 0) return;
    TSNode last = ts_node_named_child(body, ts_node_named_child_count(body) - 1);
    TSSymbol kind = ts_node_symbol(last);
    if (kind != k_.return_statement && kind != k_.raise_statement &&
        kind != k_.continue_statement && kind != k_.break_statement) {
      return;
    }
    std::vector<Pair> pairs;
    TSNode whole = condition;
    while (ts_node_symbol(whole) == k_.parenthesized_expression &&
           ts_node_named_child_count(whole) == 1) {
      whole = ts_node_named_child(whole, 0);
    }
    if (ts_node_symbol(whole) != k_.comparison_operator) return;
    collect_pairs(whole, "notin", pairs);
    for (Pair& pair : pairs) after_exit_.push_back({depth, std::move(pair)});
  }

  // Subscripts that are targets: the outermost subscripts of the target,
  // through tuples, lists, brackets and starred targets.
  void mark_targets(TSNode target, bool is_store, bool rebinds) {
    std::vector<TSNode> pending{target};
    while (!pending.empty()) {
      TSNode node = pending.back();
      pending.pop_back();
      TSSymbol kind = ts_node_symbol(node);
      if (kind == k_.subscript) {
        if (is_store) store_targets_.insert(node.id);
      } else if (kind == k_.identifier) {
        std::string name(node_text(node, source_));
        scopes_[scope()].bindings.insert(name);
        if (rebinds) scopes_[scope()].containers[name].second += 1;
      } else if (kind == k_.pattern_list || kind == k_.tuple_pattern || kind == k_.list_pattern ||
                 kind == k_.tuple || kind == k_.list || kind == k_.parenthesized_expression ||
                 kind == k_.list_splat_pattern) {
        uint32_t count = ts_node_named_child_count(node);
        for (uint32_t i = 0; i < count; ++i) pending.push_back(ts_node_named_child(node, i));
      }
    }
  }

  void on_assignment(TSNode node) {
    TSNode left = ts_node_child_by_field_id(node, k_.left);
    TSNode right = ts_node_child_by_field_id(node, k_.right);
    if (ts_node_is_null(left)) return;
    // `x = defaultdict(...)`: note what x is bound to.
    if (ts_node_symbol(left) == k_.identifier && !ts_node_is_null(right)) {
      bool is_container = false;
      if (ts_node_symbol(right) == k_.call) {
        std::string callee = compact_text(ts_node_child_by_field_id(right, k_.function), source_);
        is_container = callee == "defaultdict" || callee == "collections.defaultdict" ||
                       callee == "Counter" || callee == "collections.Counter";
      }
      auto& counts = scopes_[scope()].containers[std::string(node_text(left, source_))];
      (is_container ? counts.first : counts.second) += 1;
    }
    // A plain name was counted above; names unpacked from anything else
    // are bound to what nobody knows.
    mark_targets(left, true, ts_node_symbol(left) != k_.identifier);
  }

  void bind_names(TSNode node) {
    std::vector<TSNode> pending{node};
    while (!pending.empty()) {
      TSNode current = pending.back();
      pending.pop_back();
      if (ts_node_symbol(current) == k_.identifier) {
        std::string name(node_text(current, source_));
        scopes_[scope()].bindings.insert(name);
        scopes_[scope()].containers[name].second += 1;
        continue;
      }
      uint32_t count = ts_node_named_child_count(current);
      for (uint32_t i = 0; i < count; ++i) pending.push_back(ts_node_named_child(current, i));
    }
  }

  void bind_parameters(TSNode definition) {
    TSNode parameters = ts_node_child_by_field_id(definition, k_.parameters_field);
    if (ts_node_is_null(parameters)) return;
    uint32_t count = ts_node_named_child_count(parameters);
    for (uint32_t i = 0; i < count; ++i) {
      TSNode parameter = ts_node_named_child(parameters, i);
      TSNode name = ts_node_symbol(parameter) == k_.identifier
                        ? parameter
                        : ts_node_child_by_field_id(parameter, k_.name);
      if (ts_node_is_null(name) && ts_node_named_child_count(parameter) > 0) {
        name = ts_node_named_child(parameter, 0);
      }
      if (!ts_node_is_null(name) && ts_node_symbol(name) == k_.identifier) {
        std::string text(node_text(name, source_));
        scopes_[scope()].bindings.insert(text);
        scopes_[scope()].containers[text].second += 1;
      }
    }
  }

  void on_aliased_import(TSNode node) {
    TSNode name = ts_node_child_by_field_id(node, k_.name);
    TSNode alias = ts_node_child_by_field_id(node, k_.alias);
    if (ts_node_is_null(name) || ts_node_is_null(alias)) return;
    std::string module = compact_text(name, source_);
    if (module == "typing" || module == "typing_extensions") {
      typing_aliases_.insert(std::string(node_text(alias, source_)));
    }
  }

  void bind_imports(TSNode statement) {
    uint32_t count = ts_node_named_child_count(statement);
    for (uint32_t i = 0; i < count; ++i) {
      TSNode item = ts_node_named_child(statement, i);
      TSNode bound = item;
      if (ts_node_symbol(item) == k_.aliased_import) bound = ts_node_child_by_field_id(item, k_.alias);
      if (ts_node_is_null(bound)) continue;
      std::string text = compact_text(bound, source_);
      std::string first = text.substr(0, text.find('.'));
      scopes_[scope()].bindings.insert(first);
      scopes_[scope()].containers[first].second += 1;
    }
  }

  void on_subscript(TSNode node) {
    const void* id = node.id;
    auto exempt = [&](PreciseRule rule) {
      if (facts_.exempt.insert(id).second) ++facts_.removed[static_cast<std::size_t>(rule)];
    };
    if (store_targets_.contains(id)) return exempt(PreciseRule::Store);
    // The index expressions. Mostly there is one, next to the value: no
    // cursor is needed for it.
    TSNode first_index = ts_node_child_by_field_id(node, k_.subscript_field);
    if (ts_node_is_null(first_index)) return;
    bool single = ts_node_named_child_count(node) == 2;
    if (single) {
      if (ts_node_symbol(first_index) == k_.slice) return exempt(PreciseRule::Slice);
      TSNode index = first_index;
      if (ts_node_symbol(index) == k_.unary_operator && ts_node_named_child_count(index) == 1 &&
          node_text(index, source_).starts_with('-')) {
        index = ts_node_named_child(index, 0);
      }
      if (ts_node_symbol(index) == k_.integer) return exempt(PreciseRule::IntegerIndex);
    } else {
      std::size_t indexes = 0;
      TreeCursor cursor(node);
      if (cursor.goto_first_child()) {
        do {
          if (cursor.field_id() != k_.subscript_field) continue;
          ++indexes;
          if (ts_node_symbol(cursor.node()) == k_.slice) return exempt(PreciseRule::Slice);
        } while (cursor.goto_next_sibling());
      }
      single = indexes == 1;  // a comment beside the index
    }
    if (!annotation_depths_.empty()) return exempt(PreciseRule::TypeSubscript);
    TSNode value = ts_node_child_by_field_id(node, k_.value);
    if (ts_node_is_null(value)) return;
    TSSymbol value_kind = ts_node_symbol(value);
    if (value_kind == k_.identifier && generic_names().contains(node_text(value, source_))) {
      return exempt(PreciseRule::TypeSubscript);
    }
    if (value_kind == k_.attribute) {
      // typing.X, typing_extensions.X, collections.abc.X, or an alias of
      // typing, which the end of the walk knows: by the leftmost name.
      TSNode leftmost = value;
      while (ts_node_symbol(leftmost) == k_.attribute) {
        TSNode object = ts_node_child_by_field_id(leftmost, k_.object);
        if (ts_node_is_null(object)) break;
        leftmost = object;
      }
      if (ts_node_symbol(leftmost) == k_.identifier) {
        attribute_values_.push_back({id, node_text(leftmost, source_), value});
      }
    }
    if (single && !guards_.empty()) {
      std::string object = compact_text(value, source_);
      std::string key = compact_text(first_index, source_);
      for (const Guard& guard : guards_) {
        if (guard.pair.first == object && guard.pair.second == key) {
          return exempt(PreciseRule::MembershipGuard);
        }
      }
    }
    if (value_kind == k_.identifier) name_values_.push_back({id, node_text(value, source_), scope()});
  }

  // What needs the whole file: typing aliases, the bindings of each scope.
  void settle() {
    for (const AttributeValue& use : attribute_values_) {
      const void* id = use.id;
      std::string_view first = use.leftmost;
      bool generic = first == "typing" || first == "typing_extensions" ||
                     typing_aliases_.contains(std::string(first)) ||
                     (first == "collections" &&
                      compact_text(use.value, source_).starts_with("collections.abc."));
      if (generic && facts_.exempt.insert(id).second) {
        ++facts_.removed[static_cast<std::size_t>(PreciseRule::TypeSubscript)];
      }
    }
    for (const NameValue& use : name_values_) {
      if (facts_.exempt.contains(use.id)) continue;
      const Scope& scope = scopes_[use.scope];
      auto found = scope.containers.find(std::string(use.name));
      if (found == scope.containers.end()) continue;
      auto [containers, others] = found->second;
      if (containers > 0 && others == 0) {
        facts_.exempt.insert(use.id);
        ++facts_.removed[static_cast<std::size_t>(PreciseRule::NonRaisingContainer)];
      }
    }
    for (const CallUse& call : calls_) {
      if (!visible(call.name, call.scope)) facts_.unrelated_calls.insert(call.id);
    }
  }

  // Whether `name`, called in `scope`, names a function visible there: a
  // function nested in an enclosing function, or a module-level function,
  // unless a nearer scope binds the name otherwise. Class scopes are not
  // seen from inside their methods.
  bool visible(const std::string& name, std::size_t from) const {
    std::size_t at = from;
    for (;;) {
      const Scope& scope = scopes_[at];
      if (!scope.is_class || at == from) {
        if (!scope.is_class && scope.defs.contains(name)) return true;
        if (!scope.is_class && scope.bindings.contains(name)) return false;
      }
      if (at == 0) return false;
      at = scope.parent;
    }
  }

  struct NameValue {
    const void* id;
    std::string_view name;
    std::size_t scope;
  };
  struct AttributeValue {
    const void* id;
    std::string_view leftmost;
    TSNode value;
  };
  struct CallUse {
    const void* id;
    std::string name;
    std::size_t scope;
  };

  std::string_view source_;
  const Kinds& k_;
  PreciseFacts facts_;
  std::vector<Guard> guards_;
  std::vector<Guard> after_exit_;
  std::vector<PendingGuard> pending_;
  std::vector<uint32_t> annotation_depths_;
  bool file_has_error_ = false;
  // Which node kinds the rules look at: the rest pass at the cost of one
  // table read.
  enum class Role : uint8_t { None, Some };
  Role role_of(TSSymbol kind) const { return kind < roles_.size() ? roles_[kind] : Role::None; }
  std::vector<Role> roles_ = [this] {
    std::vector<Role> roles(ts_language_symbol_count(python_grammar().language), Role::None);
    for (TSSymbol kind :
         {k_.type, k_.function_definition, k_.class_definition, k_.assignment, k_.for_statement,
          k_.for_in_clause, k_.list_comprehension, k_.set_comprehension,
          k_.dictionary_comprehension, k_.generator_expression, k_.if_statement, k_.elif_clause,
          k_.while_statement, k_.conditional_expression, k_.boolean_operator,
          k_.assert_statement, k_.aliased_import, k_.import_statement, k_.import_from_statement,
          k_.with_item, k_.subscript, k_.call}) {
      if (kind < roles.size()) roles[kind] = Role::Some;
    }
    return roles;
  }();
  std::unordered_set<const void*> store_targets_;
  std::vector<AttributeValue> attribute_values_;
  std::vector<NameValue> name_values_;
  std::vector<CallUse> calls_;
  std::unordered_set<std::string> typing_aliases_;
  std::vector<Scope> scopes_;
  std::vector<std::pair<uint32_t, std::size_t>> scope_stack_;
};

void PreciseClassifier::enter(TSNode node, TSSymbol kind, TSFieldId field, uint32_t depth) {
  enter_node(node, kind, field, depth);
}

void PreciseClassifier::leave(uint32_t depth) { leave_node(depth); }

PreciseObserver::PreciseObserver(std::string_view source)
    : classifier_(std::make_unique<PreciseClassifier>(source)) {}
PreciseObserver::~PreciseObserver() = default;
WalkObserver& PreciseObserver::observer() { return *classifier_; }
PreciseFacts PreciseObserver::finish() { return classifier_->finish(); }

PreciseFacts precise_facts(TSNode root, std::string_view source) {
  PreciseObserver observer(source);
  index_file(root, source, &observer.observer());
  return observer.finish();
}

}  // namespace keyhound
