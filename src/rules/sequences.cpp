#include "syntax/node_access.hpp"
#include "rules/sequences.hpp"

#include <algorithm>
#include <array>
#include <string>

#include "syntax/node_text.hpp"
#include "rules/expression_text.hpp"

namespace keyhound {
namespace {

// Indexing any of these raises IndexError or TypeError, never KeyError.
constexpr std::array<std::string_view, 8> kSequenceTypes = {
    "list", "tuple", "str", "bytes", "bytearray", "range", "sorted", "reversed"};

constexpr std::array<std::string_view, 8> kSequenceAnnotations = {
    "list", "List", "tuple", "Tuple", "Sequence", "MutableSequence", "str", "bytes"};

// Methods that always return a list, a tuple or a string, whatever their
// object (str, bytes, a file, os.path, re).
constexpr std::array<std::string_view, 21> kSequenceMethods = {
    "split",  "rsplit",  "splitlines", "partition",  "rpartition",   "strip",  "lstrip",
    "rstrip", "join",    "format",     "lower",      "upper",        "casefold", "title",
    "capitalize", "readlines", "encode", "decode", "removeprefix", "removesuffix", "zfill"};

// Array constructors of numpy and torch: an array or tensor takes
// integers, slices and masks, never a key. (Not `np.load` or `torch.load`,
// which may return a mapping.)
constexpr std::array<std::string_view, 24> kArrayConstructors = {
    "np.array",  "np.asarray", "np.zeros",  "np.ones",     "np.empty",      "np.full",
    "np.arange", "np.linspace", "np.stack", "np.concatenate", "np.zeros_like", "np.ones_like",
    "torch.tensor", "torch.as_tensor", "torch.zeros", "torch.ones", "torch.empty", "torch.full",
    "torch.arange", "torch.rand", "torch.randn", "torch.stack", "torch.cat", "torch.zeros_like"};

constexpr std::array<std::string_view, 4> kArrayAnnotations = {"np.ndarray", "ndarray", "NDArray",
                                                               "torch.Tensor"};

constexpr std::array<std::string_view, 3> kNonRaisingContainers = {"defaultdict", "Counter",
                                                                   "DefaultDict"};

// Module prefixes that leave a name what it is.
constexpr std::array<std::string_view, 4> kPrefixes = {"typing.", "t.", "collections.abc.",
                                                       "collections."};

template <std::size_t N>
bool listed(const std::array<std::string_view, N>& table, std::string_view name) {
  return std::find(table.begin(), table.end(), name) != table.end();
}

std::string_view without_prefix(std::string_view name) {
  for (std::string_view prefix : kPrefixes) {
    if (name.starts_with(prefix)) return name.substr(prefix.size());
  }
  return name;
}

}  // namespace

BoundValue annotated_value(TSNode type, const PreciseKinds& k, std::string_view source) {
  if (is_null(type)) return BoundValue::Unknown;
  TSNode named = node_kind(type) == k.type && named_child_count(type) == 1
                     ? named_child(type, 0)
                     : type;
  TSSymbol kind = node_kind(named);
  // `list[str]` is a generic type or a subscript: its name is what counts.
  if (kind == k.generic_type && named_child_count(named) > 0) {
    named = named_child(named, 0);
  } else if (kind == k.subscript) {
    named = field_child(named, k.value);
  }
  if (is_null(named)) return BoundValue::Unknown;
  kind = node_kind(named);
  if (kind != k.identifier && kind != k.attribute) return BoundValue::Unknown;
  std::string text = compact_text(named, source);
  std::string_view name = without_prefix(text);
  if (listed(kSequenceAnnotations, name) || listed(kArrayAnnotations, name) ||
      listed(kArrayAnnotations, text)) {
    return BoundValue::Sequence;
  }
  if (listed(kNonRaisingContainers, name)) return BoundValue::NonRaisingContainer;
  return BoundValue::Unknown;
}

BoundValue assigned_value(TSNode right, const PreciseKinds& k, std::string_view source) {
  if (is_null(right)) return BoundValue::Unknown;
  TSSymbol kind = node_kind(right);
  if (kind == k.list || kind == k.tuple || kind == k.string || kind == k.concatenated_string ||
      kind == k.list_comprehension) {
    return BoundValue::Sequence;
  }
  if (kind != k.call) return BoundValue::Unknown;
  TSNode callee = field_child(right, k.function);
  if (is_null(callee)) return BoundValue::Unknown;
  if (node_kind(callee) == k.attribute) {
    std::string_view method = node_text(field_child(callee, k.attribute_field), source);
    if (listed(kSequenceMethods, method)) return BoundValue::Sequence;
  }
  std::string text = compact_text(callee, source);
  std::string_view name = without_prefix(text);
  if (node_kind(callee) == k.identifier && listed(kSequenceTypes, name)) {
    return BoundValue::Sequence;
  }
  // `numpy.zeros` is `np.zeros`.
  std::string array = text;
  if (array.starts_with("numpy.")) array.replace(0, 5, "np");
  if (listed(kArrayConstructors, array)) return BoundValue::Sequence;
  if (name == "defaultdict" || name == "Counter") return BoundValue::NonRaisingContainer;
  return BoundValue::Unknown;
}

bool is_sequence_expression(TSNode value, const PreciseKinds& k, std::string_view source) {
  while (node_kind(value) == k.parenthesized_expression && named_child_count(value) == 1) {
    value = named_child(value, 0);
  }
  TSSymbol kind = node_kind(value);
  if (kind == k.list || kind == k.tuple || kind == k.string || kind == k.concatenated_string ||
      kind == k.list_comprehension) {
    return true;
  }
  if (kind != k.attribute) return false;
  if (node_text(value, source) == "sys.argv") return true;
  return node_text(field_child(value, k.attribute_field), source) == "shape";
}

bool is_length_offset(TSNode index, TSNode object, const PreciseKinds& k,
                      std::string_view source) {
  if (node_kind(index) != k.binary_operator) return false;
  TSNode left = field_child(index, k.left);
  TSNode right = field_child(index, k.right);
  if (is_null(left) || is_null(right) || node_kind(left) != k.call ||
      operator_between(left, right, source) != "-") {
    return false;
  }
  if (node_text(field_child(left, k.function), source) != "len") return false;
  TSNode arguments = field_child(left, k.arguments);
  if (is_null(arguments) || named_child_count(arguments) != 1) return false;
  return compact_text(named_child(arguments, 0), source) == compact_text(object, source);
}

}  // namespace keyhound
