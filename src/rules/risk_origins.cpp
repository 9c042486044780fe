#include "rules/risk_origins.hpp"

#include <algorithm>

#include "rules/expression_text.hpp"
#include "syntax/node_access.hpp"
#include "syntax/node_text.hpp"

namespace keyhound {
namespace {

// The table of origins: what a call, an attribute or a loop makes, and how
// a finding names it. Only what is well established: the standard
// library's parsers, the usual third-party ones, and the request objects
// of the web frameworks.
struct CallOrigin {
  std::string_view callee;
  RiskOrigin origin;
};

constexpr std::array<CallOrigin, 22> kCallOrigins = {{
    {"json.load", RiskOrigin::Json},
    {"json.loads", RiskOrigin::Json},
    {"simplejson.load", RiskOrigin::Json},
    {"simplejson.loads", RiskOrigin::Json},
    {"orjson.loads", RiskOrigin::Json},
    {"ujson.loads", RiskOrigin::Json},
    {"yaml.load", RiskOrigin::Yaml},
    {"yaml.safe_load", RiskOrigin::Yaml},
    {"yaml.full_load", RiskOrigin::Yaml},
    {"yaml.unsafe_load", RiskOrigin::Yaml},
    {"tomllib.load", RiskOrigin::Toml},
    {"tomllib.loads", RiskOrigin::Toml},
    {"tomli.load", RiskOrigin::Toml},
    {"tomli.loads", RiskOrigin::Toml},
    {"toml.load", RiskOrigin::Toml},
    {"toml.loads", RiskOrigin::Toml},
    {"xmltodict.parse", RiskOrigin::Xml},
    {"configparser.ConfigParser", RiskOrigin::ConfigFile},
    {"configparser.RawConfigParser", RiskOrigin::ConfigFile},
    {"ConfigParser", RiskOrigin::ConfigFile},
    {"RawConfigParser", RiskOrigin::ConfigFile},
    {"os.environ.copy", RiskOrigin::Environment},
}};

// `request.headers` and its kin, in Flask, Django, Starlette and aiohttp.
constexpr std::array<std::string_view, 3> kRequestNames = {"request", "self.request", "req"};
constexpr std::array<std::string_view, 10> kRequestParts = {
    "headers", "args", "form", "GET", "POST", "cookies", "COOKIES", "query_params", "json",
    "files"};

constexpr std::array<std::string_view, kRiskOriginCount> kReasons = {
    "an environment variable", "JSON data", "YAML data", "TOML data", "XML data",
    "a CSV row", "a configuration file", "request data", "keyword arguments",
    "a parameter", "a call's result", "a local value", "a literal"};

template <typename Table, typename Value>
bool listed(const Table& table, const Value& value) {
  return std::find(table.begin(), table.end(), value) != table.end();
}

bool has(uint16_t origins, RiskOrigin origin) {
  return (origins >> static_cast<unsigned>(origin)) & 1U;
}

// `os.environ` and `request.headers` are origins wherever they are written.
std::optional<RiskOrigin> origin_of_text(std::string_view text) {
  if (text == "os.environ" || text == "environ") return RiskOrigin::Environment;
  std::size_t dot = text.rfind('.');
  if (dot == std::string_view::npos) return std::nullopt;
  if (listed(kRequestNames, text.substr(0, dot)) && listed(kRequestParts, text.substr(dot + 1))) {
    return RiskOrigin::Request;
  }
  return std::nullopt;
}

// The longest name a reason quotes.
constexpr std::size_t kLongestQuotedName = 40;

std::string quoted_name(std::string_view name) {
  std::string text = "key '";
  if (name.size() > kLongestQuotedName) {
    std::size_t cut = kLongestQuotedName;
    // Not inside a UTF-8 sequence.
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    text += name.substr(0, cut);
    text += "\u2026";
  } else {
    text += name;
  }
  text += '\'';
  return text;
}

}  // namespace

std::optional<RiskOrigin> outside_origin(uint16_t origins) {
  for (std::size_t i = 0; i < kRiskOriginCount; ++i) {
    auto origin = static_cast<RiskOrigin>(i);
    if (is_outside_data(origin) && has(origins, origin)) return origin;
  }
  return std::nullopt;
}

std::string_view origin_reason(RiskOrigin origin) {
  return kReasons[static_cast<std::size_t>(origin)];
}

std::string origin_key(RiskOrigin origin) {
  std::string key = "\x03origin ";
  key += static_cast<char>('a' + static_cast<int>(origin));
  return key;
}

bool is_outside_data(RiskOrigin origin) {
  return origin != RiskOrigin::Parameter && origin != RiskOrigin::CallResult &&
         origin != RiskOrigin::Local && origin != RiskOrigin::Literal;
}

std::optional<RiskOrigin> origin_of_value(TSNode value, const PreciseKinds& k,
                                          std::string_view source) {
  if (is_null(value)) return std::nullopt;
  TSSymbol kind = node_kind(value);
  if (kind == k.dictionary || kind == k.dictionary_comprehension || kind == k.list ||
      kind == k.tuple || kind == k.string) {
    return RiskOrigin::Literal;
  }
  if (kind == k.attribute) return origin_of_text(compact_text(value, source));
  if (kind != k.call) return std::nullopt;
  TSNode callee = field_child(value, k.function);
  if (is_null(callee)) return std::nullopt;
  std::string name = compact_text(callee, source);
  for (const CallOrigin& row : kCallOrigins) {
    if (row.callee == name) return row.origin;
  }
  // `response.json()`: a web service's reply.
  TSNode arguments = field_child(value, k.arguments);
  if (node_kind(callee) == k.attribute && !is_null(arguments) &&
      named_child_count(arguments) == 0 &&
      node_text(field_child(callee, k.attribute_field), source) == "json") {
    return RiskOrigin::Json;
  }
  if (name == "dict" || name == "defaultdict" || name == "OrderedDict" ||
      name == "dict.fromkeys") {
    return RiskOrigin::Literal;
  }
  return RiskOrigin::CallResult;
}

std::optional<RiskOrigin> origin_of_items(TSNode iterable, const PreciseKinds& k,
                                          std::string_view source) {
  if (is_null(iterable) || node_kind(iterable) != k.call) return std::nullopt;
  std::string_view callee = node_text(field_child(iterable, k.function), source);
  if (callee == "csv.DictReader" || callee == "DictReader") return RiskOrigin::CsvRow;
  return std::nullopt;
}

Risk rank_lookup(const LookupShape& shape) {
  // Data from outside the program, and chains of lookups into it.
  std::optional<RiskOrigin> outside = origin_of_text(shape.object);
  if (!outside) outside = outside_origin(shape.written_origins);
  if (!outside) outside = outside_origin(shape.object_origins);
  if (!outside) outside = outside_origin(shape.root_origins);
  if (outside) return {Confidence::High, std::string(kReasons[static_cast<std::size_t>(*outside)])};

  // Where the mapping comes from: a chain of lookups counts as what it
  // starts from.
  const uint16_t mapping = shape.object_origins | shape.root_origins;
  const bool mapping_from_parameter = has(mapping, RiskOrigin::Parameter);
  const bool mapping_from_call = shape.object_is_call || has(mapping, RiskOrigin::CallResult);
  const bool built_here = has(shape.object_origins, RiskOrigin::Literal);
  // A module-level or attribute registry: nothing the function binds.
  const bool shared_mapping = shape.object_is_attribute ||
                              (shape.object_is_name && shape.object_origins == 0);
  if (!shape.constant_key) {
    std::optional<RiskOrigin> key_outside = outside_origin(shape.key_origins);
    bool key_from_parameter = has(shape.key_origins, RiskOrigin::Parameter);
    if (key_outside) {
      return {Confidence::High, quoted_name(shape.key_root) + " from " +
                                    std::string(kReasons[static_cast<std::size_t>(*key_outside)])};
    }
    if (key_from_parameter) {
      return {shared_mapping ? Confidence::High : Confidence::Medium,
              quoted_name(shape.key_root) + " from a parameter"};
    }
    if (mapping_from_parameter) return {Confidence::Medium, "a mapping from a parameter"};
    if (mapping_from_call) return {Confidence::Medium, "a mapping returned by a call"};
    return {Confidence::Medium, "a computed key"};
  }
  // A constant key that a literal written out in full does not hold
  // raises, unless code elsewhere adds it.
  if (shape.object_is_literal) return {Confidence::High, "a key the literal does not hold"};
  if (mapping_from_parameter) return {Confidence::Medium, "a mapping from a parameter"};
  if (mapping_from_call) return {Confidence::Medium, "a mapping returned by a call"};
  if (built_here) return {Confidence::Medium, "a key the function's own dict may lack"};
  if (shared_mapping) return {Confidence::Low, "a constant key into the program's own mapping"};
  return {Confidence::Medium, "a constant key"};
}

Risk rank_call(const std::optional<Risk>& origin) {
  if (origin && origin->confidence == Confidence::High) {
    return {Confidence::Medium, "reaches a lookup into " + std::string(origin->reason.view())};
  }
  return {Confidence::Low, "reaches a lookup of lower confidence"};
}

}  // namespace keyhound
