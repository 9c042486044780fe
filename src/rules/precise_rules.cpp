#include "syntax/node_access.hpp"
#include "rules/precise_rules.hpp"

#include <map>
#include <memory>
#include <vector>

#include "syntax/node_text.hpp"
#include "rules/expression_text.hpp"
#include "rules/non_raising_containers.hpp"
#include "rules/precise_kinds.hpp"
#include "rules/proven_keys.hpp"
#include "rules/risk_origins.hpp"
#include "rules/scopes.hpp"
#include "rules/sequences.hpp"
#include "rules/stores_and_indexes.hpp"
#include "rules/syntax_outline.hpp"
#include "rules/type_subscripts.hpp"
#include "syntax/python_grammar.hpp"
#include "syntax/statement_move.hpp"

namespace keyhound {

namespace {

PreciseKinds look_up_kinds() {
  auto s = [](const char* name) { return grammar_symbol(name); };
  auto f = [](const char* name) { return grammar_field(name); };
  return PreciseKinds{
      .subscript = s("subscript"),
      .assignment = s("assignment"),
      .for_statement = s("for_statement"),
      .for_in_clause = s("for_in_clause"),
      .pattern_list = s("pattern_list"),
      .tuple_pattern = s("tuple_pattern"),
      .list_pattern = s("list_pattern"),
      .tuple = s("tuple"),
      .list = s("list"),
      .parenthesized_expression = s("parenthesized_expression"),
      .list_splat_pattern = s("list_splat_pattern"),
      .slice = s("slice"),
      .integer = s("integer"),
      .unary_operator = s("unary_operator"),
      .type = s("type"),
      .class_definition = s("class_definition"),
      .function_definition = s("function_definition"),
      .identifier = s("identifier"),
      .attribute = s("attribute"),
      .call = s("call"),
      .if_statement = s("if_statement"),
      .elif_clause = s("elif_clause"),
      .while_statement = s("while_statement"),
      .conditional_expression = s("conditional_expression"),
      .boolean_operator = s("boolean_operator"),
      .comparison_operator = s("comparison_operator"),
      .assert_statement = s("assert_statement"),
      .return_statement = s("return_statement"),
      .raise_statement = s("raise_statement"),
      .continue_statement = s("continue_statement"),
      .break_statement = s("break_statement"),
      .list_comprehension = s("list_comprehension"),
      .set_comprehension = s("set_comprehension"),
      .dictionary_comprehension = s("dictionary_comprehension"),
      .generator_expression = s("generator_expression"),
      .aliased_import = s("aliased_import"),
      .import_statement = s("import_statement"),
      .import_from_statement = s("import_from_statement"),
      .with_item = s("with_item"),
      .as_pattern = s("as_pattern"),
      .generic_type = s("generic_type"),
      .string = s("string"),
      .string_content = s("string_content"),
      .concatenated_string = s("concatenated_string"),
      .binary_operator = s("binary_operator"),
      .global_statement = s("global_statement"),
      .nonlocal_statement = s("nonlocal_statement"),
      .named_expression = s("named_expression"),
      .delete_statement = s("delete_statement"),
      .augmented_assignment = s("augmented_assignment"),
      .block = s("block"),
      .module = s("module"),
      .lambda = s("lambda"),
      .dictionary = s("dictionary"),
      .pair = s("pair"),
      .keyword_argument = s("keyword_argument"),
      .argument_list = s("argument_list"),
      .try_statement = s("try_statement"),
      .except_clause = s("except_clause"),
      .except_group_clause = s("except_group_clause"),
      .else_clause = s("else_clause"),
      .finally_clause = s("finally_clause"),
      .with_statement = s("with_statement"),
      .with_clause = s("with_clause"),
      .match_statement = s("match_statement"),
      .case_clause = s("case_clause"),
      .case_pattern = s("case_pattern"),
      .if_clause = s("if_clause"),
      .not_operator = s("not_operator"),
      .dotted_name = s("dotted_name"),
      .decorated_definition = s("decorated_definition"),
      .true_literal = s("true"),
      .lambda_parameters = s("lambda_parameters"),
      .parameters = s("parameters"),
      .type_alias_statement = s("type_alias_statement"),
      .dictionary_splat_pattern = s("dictionary_splat_pattern"),
      .left = f("left"),
      .right = f("right"),
      .value = f("value"),
      .subscript_field = f("subscript"),
      .superclasses = f("superclasses"),
      .condition = f("condition"),
      .consequence = f("consequence"),
      .alternative = f("alternative"),
      .body = f("body"),
      .name = f("name"),
      .alias = f("alias"),
      .function = f("function"),
      .object = f("object"),
      .attribute_field = f("attribute"),
      .parameters_field = f("parameters"),
      .type_field = f("type"),
      .arguments = f("arguments"),
      .key = f("key"),
      .subject = f("subject"),
      .guard = f("guard"),
      .argument = f("argument"),
  };
}

}  // namespace

const PreciseKinds& precise_kinds() {
  static const PreciseKinds kinds = look_up_kinds();
  return kinds;
}


// What the walk of one top-level statement gave the rules, as the parts of
// each; scopes count as they did then.
struct PreciseStatement {
  OutlinePart outline;
  TypeSubscripts::Part types;
  std::vector<NonRaisingContainers::Use> uses;
  ScopesPart scopes;
  std::vector<std::pair<const void*, PreciseRule>> takes;
  struct AttributeOrigin {
    std::size_t owner;
    std::string attribute;
    uint16_t origins;
  };
  std::vector<AttributeOrigin> origins;
  struct AttributeLookup {
    const void* id;
    std::size_t owner;
    std::string attribute;
  };
  std::vector<AttributeLookup> lookups;
};

// One observer of the file index's walk that hands each node to the rules
// that look at its kind, and asks them in turn about each subscript.
class PreciseClassifier final : public WalkObserver {
 public:
  PreciseClassifier(std::string_view source, ScopeFlowMemo* memo)
      : source_(source),
        memo_(memo),
        k_(precise_kinds()),
        scopes_(source, k_),
        stores_(source, k_),
        types_(source, k_),
        outline_(k_),
        looked_at_(kinds_looked_at(k_)) {}

  void enter(TSNode node, TSSymbol kind, TSFieldId field, uint32_t depth) override;
  void leave(uint32_t depth) override;
  PreciseFacts finish();
  void reserve_outline(std::size_t nodes) { outline_.reserve(nodes); }

  PreciseStatement last_statement() const;
  void add_statement(const PreciseStatement& statement, const StatementMove& move);

 private:
  static std::vector<bool> kinds_looked_at(const PreciseKinds& k);
  void note_syntax_error(TSNode node, uint32_t depth);
  void dispatch(TSNode node, TSSymbol kind, uint32_t depth);
  void on_assignment(TSNode node);
  void on_loop_target(TSNode node);
  void on_subscript(TSNode node);
  std::optional<PreciseRule> read_rule(TSNode node, const SubscriptParts& parts);
  void on_value_use(TSNode node, TSNode value, TSSymbol value_kind);
  BoundValue value_of(TSNode assignment) const;
  void bind_self_attribute(TSNode attribute, BoundValue value);
  void note_attribute_origin(TSNode attribute, TSNode value);
  void rank_attribute_lookups();
  void take(const void* subscript, PreciseRule rule);

  std::string_view source_;
  ScopeFlowMemo* memo_;
  const PreciseKinds& k_;
  PreciseFacts facts_;
  bool file_has_error_ = false;
  ScopeTracker scopes_;
  StoresAndIndexes stores_;
  TypeSubscripts types_;
  SyntaxOutline outline_;
  NonRaisingContainers containers_;
  // Per class (scope) and attribute: the outside data its methods assign
  // to `self.attribute` (bits of RiskOrigin), and the lookups of such
  // attributes, ranked once the flow has ranked them by what it knows.
  std::map<std::pair<std::size_t, std::string>, uint16_t> attribute_origins_;
  using AttributeLookup = PreciseStatement::AttributeLookup;
  std::vector<AttributeLookup> attribute_lookups_;
  // What the walk took out and the attribute origins it noted, in order,
  // so that a top-level statement's share can be kept.
  std::vector<std::pair<const void*, PreciseRule>> takes_;
  std::vector<PreciseStatement::AttributeOrigin> origin_log_;
  // How far each of the above had come when the top-level statement being
  // walked began.
  struct StatementMarks {
    uint32_t outline = 0;
    TypeSubscripts::Marks types;
    std::size_t uses = 0;
    ScopeMarks scopes;
    std::size_t takes = 0;
    std::size_t origins = 0;
    std::size_t lookups = 0;
  };
  StatementMarks statement_marks_;
  // Which node kinds any rule looks at: the rest pass at the cost of one
  // table read.
  std::vector<bool> looked_at_;
};

void PreciseClassifier::take(const void* subscript, PreciseRule rule) {
  takes_.emplace_back(subscript, rule);
  facts_.take(subscript, rule);
}

PreciseStatement PreciseClassifier::last_statement() const {
  const StatementMarks& marks = statement_marks_;
  PreciseStatement statement{
      .outline = outline_.part_since(marks.outline),
      .types = types_.part_since(marks.types),
      .uses = containers_.uses_since(marks.uses, source_),
      .scopes = scopes_.part_since(marks.scopes),
      .takes = {takes_.begin() + static_cast<std::ptrdiff_t>(marks.takes), takes_.end()},
      .origins = {origin_log_.begin() + static_cast<std::ptrdiff_t>(marks.origins),
                  origin_log_.end()},
      .lookups = {attribute_lookups_.begin() + static_cast<std::ptrdiff_t>(marks.lookups),
                  attribute_lookups_.end()}};
  return statement;
}

void PreciseClassifier::add_statement(const PreciseStatement& statement,
                                      const StatementMove& move) {
  const ScopeRenumbering renumber(statement.scopes.first_scope, scopes_.scope_count());
  outline_.add_part(statement.outline, move);
  types_.add_part(statement.types, move);
  containers_.add_uses(statement.uses, move, renumber);
  scopes_.add_part(statement.scopes, move);
  for (const auto& [subscript, rule] : statement.takes) take(move.id(subscript), rule);
  for (const PreciseStatement::AttributeOrigin& origin : statement.origins) {
    const std::size_t owner = renumber(origin.owner);
    attribute_origins_[{owner, origin.attribute}] |= origin.origins;
    origin_log_.push_back({owner, origin.attribute, origin.origins});
  }
  for (const PreciseStatement::AttributeLookup& lookup : statement.lookups) {
    attribute_lookups_.push_back({move.id(lookup.id), renumber(lookup.owner), lookup.attribute});
  }
}

std::vector<bool> PreciseClassifier::kinds_looked_at(const PreciseKinds& k) {
  std::vector<bool> looked_at(grammar_symbol_count(), false);
  for (TSSymbol kind :
       {k.type, k.function_definition, k.class_definition, k.assignment, k.for_statement,
        k.for_in_clause, k.list_comprehension, k.set_comprehension, k.dictionary_comprehension,
        k.generator_expression, k.if_statement, k.elif_clause, k.while_statement,
        k.conditional_expression, k.boolean_operator, k.assert_statement, k.aliased_import,
        k.import_statement, k.import_from_statement, k.with_item, k.subscript, k.call,
        k.module, k.block, k.lambda, k.delete_statement, k.augmented_assignment,
        k.named_expression, k.global_statement, k.nonlocal_statement}) {
    if (kind < looked_at.size()) looked_at[kind] = true;
  }
  return looked_at;
}

void PreciseClassifier::enter(TSNode node, TSSymbol kind, TSFieldId field, uint32_t depth) {
  if (depth == 1) {
    statement_marks_ = {static_cast<uint32_t>(outline_.nodes().size()),
                        types_.marks(),
                        containers_.use_count(),
                        scopes_.marks(),
                        takes_.size(),
                        origin_log_.size(),
                        attribute_lookups_.size()};
  }
  note_syntax_error(node, depth);
  outline_.enter(node, kind, field, depth);
  bool looked_at = kind < looked_at_.size() && looked_at_[kind];
  if (!looked_at && field != k_.superclasses) return;
  types_.enter(node, kind, field, depth);
  dispatch(node, kind, depth);
}

void PreciseClassifier::leave(uint32_t depth) {
  outline_.leave(depth);
  types_.leave(depth);
  scopes_.leave(depth);
}

void PreciseClassifier::note_syntax_error(TSNode node, uint32_t depth) {
  if (depth == 0) file_has_error_ = has_error(node);
  if (file_has_error_ && !facts_.first_error &&
      (is_error(node) || is_missing(node))) {
    facts_.first_error = node;
  }
}

void PreciseClassifier::dispatch(TSNode node, TSSymbol kind, uint32_t depth) {
  if (kind == k_.function_definition || kind == k_.class_definition) {
    scopes_.enter_definition(node, depth);
  } else if (kind == k_.assignment) {
    on_assignment(node);
  } else if (kind == k_.for_statement || kind == k_.for_in_clause) {
    on_loop_target(node);
  } else if (kind == k_.import_statement || kind == k_.import_from_statement) {
    scopes_.bind_imports(node);
  } else if (kind == k_.with_item) {
    TSNode value = field_child(node, k_.value);
    if (!is_null(value) && node_kind(value) == k_.as_pattern) {
      scopes_.bind_names_within(value);
    }
  } else if (kind == k_.global_statement || kind == k_.nonlocal_statement) {
    scopes_.bind_declared(node);
  } else if (kind == k_.named_expression) {
    TSNode name = field_child(node, k_.name);
    if (!is_null(name) && node_kind(name) == k_.identifier) {
      scopes_.bind(std::string(node_text(name, source_)),
                   assigned_value(field_child(node, k_.value), k_, source_));
    }
  } else if (kind == k_.subscript) {
    on_subscript(node);
  } else if (kind == k_.call) {
    scopes_.note_call(node);
  }
}

// What an assignment binds its target to: what the annotation says, when
// it says something; else what the right-hand side is.
BoundValue PreciseClassifier::value_of(TSNode assignment) const {
  BoundValue annotated =
      annotated_value(field_child(assignment, k_.type_field), k_, source_);
  if (annotated != BoundValue::Unknown) return annotated;
  return assigned_value(field_child(assignment, k_.right), k_, source_);
}

void PreciseClassifier::on_assignment(TSNode node) {
  TSNode left = field_child(node, k_.left);
  if (is_null(left)) return;
  // A plain name (or `self.x`) is bound to what the right-hand side is;
  // names unpacked from anything are bound to what nobody knows.
  TSSymbol left_kind = node_kind(left);
  BoundValue value =
      left_kind == k_.identifier || left_kind == k_.attribute ? value_of(node) : BoundValue::Unknown;
  for_each_target(
      left, k_, [&](TSNode subscript) { stores_.note_store(subscript); },
      [&](TSNode name) { scopes_.bind(std::string(node_text(name, source_)), value); },
      [&](TSNode attribute) { bind_self_attribute(attribute, value); });
  if (left_kind == k_.attribute) note_attribute_origin(left, field_child(node, k_.right));
}

// `self.config = json.load(fh)` in any method: the class's `self.config`
// holds outside data wherever it is read.
void PreciseClassifier::note_attribute_origin(TSNode attribute, TSNode value) {
  TSNode object = field_child(attribute, k_.object);
  if (is_null(object) || is_null(value) || node_text(object, source_) != "self") return;
  std::optional<RiskOrigin> origin = origin_of_value(value, k_, source_);
  std::optional<std::size_t> owner = scopes_.enclosing_class();
  if (!origin || !is_outside_data(*origin) || !owner) return;
  std::string name(node_text(field_child(attribute, k_.attribute_field), source_));
  const auto bit = static_cast<uint16_t>(1U << static_cast<unsigned>(*origin));
  attribute_origins_[{*owner, name}] |= bit;
  origin_log_.push_back({*owner, std::move(name), bit});
}

// A lookup of `self.x[...]` whose class fills `x` from outside data: high,
// whatever the method reading it knows.
void PreciseClassifier::rank_attribute_lookups() {
  for (const AttributeLookup& lookup : attribute_lookups_) {
    auto risk = facts_.risks.find(lookup.id);
    if (risk == facts_.risks.end() || risk->second.confidence == Confidence::High) continue;
    auto origins = attribute_origins_.find({lookup.owner, lookup.attribute});
    if (origins == attribute_origins_.end()) continue;
    if (std::optional<RiskOrigin> outside = outside_origin(origins->second)) {
      risk->second = Risk{Confidence::High, std::string(origin_reason(*outside))};
    }
  }
}

// `self.x = ...` binds the attribute x of the enclosing class.
void PreciseClassifier::bind_self_attribute(TSNode attribute, BoundValue value) {
  TSNode object = field_child(attribute, k_.object);
  if (is_null(object) || node_text(object, source_) != "self") return;
  scopes_.bind_attribute(
      std::string(node_text(field_child(attribute, k_.attribute_field), source_)),
      value);
}

void PreciseClassifier::on_loop_target(TSNode node) {
  TSNode left = field_child(node, k_.left);
  if (is_null(left)) return;
  for_each_target(
      left, k_, [&](TSNode subscript) { stores_.note_store(subscript); },
      [&](TSNode name) {
        scopes_.bind(std::string(node_text(name, source_)), BoundValue::Unknown);
      },
      [&](TSNode attribute) { bind_self_attribute(attribute, BoundValue::Unknown); });
}

// The rules in a fixed order: the first that applies is the one counted.
void PreciseClassifier::on_subscript(TSNode node) {
  SubscriptParts parts = subscript_parts(node, k_);
  bool complete = !is_null(parts.first_index) && !is_null(parts.value);
  if (stores_.is_store(node)) return take(node.id, PreciseRule::Store);
  if (is_null(parts.first_index)) return;
  if (auto rule = read_rule(node, parts)) return take(node.id, *rule);
  if (!complete) return;
  on_value_use(node, parts.value, node_kind(parts.value));
}

std::optional<PreciseRule> PreciseClassifier::read_rule(TSNode node, const SubscriptParts& parts) {
  if (auto rule = stores_.index_rule(parts)) return rule;
  if (types_.is_type_now(parts.value)) return PreciseRule::TypeSubscript;
  if (is_null(parts.value)) return std::nullopt;
  if (node_kind(parts.value) == k_.attribute) types_.note_attribute_value(node, parts.value);
  if (parts.index_count != 1) return std::nullopt;
  const std::string& protocol_key = scopes_.scope(scopes_.current()).protocol_key;
  if (!protocol_key.empty() && node_kind(parts.first_index) == k_.identifier &&
      node_text(parts.first_index, source_) == protocol_key) {
    return PreciseRule::ProtocolMethod;
  }
  // A string key says the object is a mapping whatever its name
  // (`self.shape["width"]`).
  if (is_length_offset(parts.first_index, parts.value, k_, source_) ||
      (is_sequence_expression(parts.value, k_, source_) &&
       node_kind(parts.first_index) != k_.string)) {
    return PreciseRule::Sequence;
  }
  return std::nullopt;
}

// A name, or an attribute of `self`, whose bindings may all be known not to
// raise: settled once the whole file is walked.
void PreciseClassifier::on_value_use(TSNode node, TSNode value, TSSymbol value_kind) {
  if (value_kind == k_.identifier) {
    containers_.note_name_value(node, node_text(value, source_), scopes_.current());
    return;
  }
  if (value_kind != k_.attribute) return;
  TSNode object = field_child(value, k_.object);
  if (is_null(object) || node_text(object, source_) != "self") return;
  if (auto owner = scopes_.enclosing_class()) {
    std::string_view attribute = node_text(field_child(value, k_.attribute_field), source_);
    containers_.note_attribute_value(node, attribute, *owner);
    attribute_lookups_.push_back({node.id, *owner, std::string(attribute)});
  }
}

// What needs the whole file: typing aliases, the bindings of each scope.
PreciseFacts PreciseClassifier::finish() {
  types_.settle(facts_);
  containers_.settle(scopes_, facts_);
  // What each scope's flow graph proves, once the whole file is outlined:
  // it need not ask about what the rules above took out.
  outline_.finish();
  take_proven_keys(outline_, source_, k_, scopes_.scope(0), facts_, memo_);
  rank_attribute_lookups();
  facts_.call_targets = scopes_.call_targets();
  facts_.deferred = deferred_code(outline_, k_);
  return std::move(facts_);
}

PreciseObserver::PreciseObserver(std::string_view source, ScopeFlowMemo* memo)
    : classifier_(std::make_unique<PreciseClassifier>(source, memo)) {}
PreciseObserver::~PreciseObserver() = default;
WalkObserver& PreciseObserver::observer() { return *classifier_; }
std::size_t PreciseObserver::outline_nodes(const PreciseStatement& statement) {
  return statement.outline.nodes.size();
}
void PreciseObserver::reserve_outline(std::size_t nodes) { classifier_->reserve_outline(nodes); }
std::shared_ptr<const PreciseStatement> PreciseObserver::last_statement() const {
  return std::make_shared<const PreciseStatement>(classifier_->last_statement());
}
void PreciseObserver::add_statement(const PreciseStatement& statement,
                                    const StatementMove& move) {
  classifier_->add_statement(statement, move);
}
PreciseFacts PreciseObserver::finish() { return classifier_->finish(); }

PreciseFacts precise_facts(TSNode root, std::string_view source) {
  PreciseObserver observer(source);
  index_file(root, source, &observer.observer());
  return observer.finish();
}

}  // namespace keyhound
