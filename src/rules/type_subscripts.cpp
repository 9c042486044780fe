#include "syntax/node_access.hpp"
#include "rules/type_subscripts.hpp"

#include "base/internal_fault.hpp"
#include "syntax/node_text.hpp"
#include "rules/expression_text.hpp"

namespace keyhound {
namespace {

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

}  // namespace

void TypeSubscripts::enter(TSNode node, TSSymbol kind, TSFieldId field, uint32_t depth) {
  if (kind == k_.type || field == k_.superclasses) annotation_depths_.push_back(depth);
  if (kind != k_.aliased_import) return;
  TSNode name = field_child(node, k_.name);
  TSNode alias = field_child(node, k_.alias);
  if (is_null(name) || is_null(alias)) return;
  std::string module = compact_text(name, source_);
  if (module == "typing" || module == "typing_extensions") {
    alias_log_.emplace_back(node_text(alias, source_));
    typing_aliases_.insert(alias_log_.back());
  }
}

void TypeSubscripts::leave(uint32_t depth) {
  while (!annotation_depths_.empty() && annotation_depths_.back() >= depth) {
    annotation_depths_.pop_back();
  }
}

bool TypeSubscripts::is_type_now(TSNode value) const {
  if (!annotation_depths_.empty()) return true;
  return !is_null(value) && node_kind(value) == k_.identifier &&
         generic_names().contains(node_text(value, source_));
}

void TypeSubscripts::note_attribute_value(TSNode subscript, TSNode value) {
  TSNode leftmost = value;
  while (node_kind(leftmost) == k_.attribute) {
    TSNode object = field_child(leftmost, k_.object);
    if (is_null(object)) break;
    leftmost = object;
  }
  if (node_kind(leftmost) == k_.identifier) {
    attribute_values_.push_back({subscript.id, node_text(leftmost, source_), value});
  }
}

void TypeSubscripts::settle(PreciseFacts& facts) const {
  for (const AttributeValue& use : attribute_values_) {
    std::string_view first = use.leftmost;
    bool generic = first == "typing" || first == "typing_extensions" ||
                   typing_aliases_.contains(std::string(first)) ||
                   (first == "collections" &&
                    compact_text(use.value, source_).starts_with("collections.abc."));
    if (generic) facts.take(use.id, PreciseRule::TypeSubscript);
  }
}

TypeSubscripts::Part TypeSubscripts::part_since(const Marks& marks) const {
  if (!annotation_depths_.empty()) throw InternalFault("a types part taken inside an annotation");
  Part part;
  part.typing_aliases.assign(
      alias_log_.begin() + static_cast<std::ptrdiff_t>(marks.typing_aliases), alias_log_.end());
  for (std::size_t v = marks.attribute_values; v < attribute_values_.size(); ++v) {
    const AttributeValue& use = attribute_values_[v];
    part.attribute_values.push_back({use.id, span_in(use.leftmost, source_), use.value});
  }
  return part;
}

void TypeSubscripts::add_part(const Part& part, const StatementMove& move) {
  for (const std::string& alias : part.typing_aliases) {
    alias_log_.push_back(alias);
    typing_aliases_.insert(alias);
  }
  for (const Part::Value& use : part.attribute_values) {
    attribute_values_.push_back({move.id(use.id), move.text(use.leftmost), move.node(use.value)});
  }
}

}  // namespace keyhound
