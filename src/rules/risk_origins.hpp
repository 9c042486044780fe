#pragma once

#include <tree_sitter/api.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "rules/precise_kinds.hpp"
#include "rules/risk.hpp"

namespace keyhound {

// Where a value comes from, as far as the ranking of findings cares.
enum class RiskOrigin : uint8_t {
  Environment,  // os.environ
  Json,         // json.load(s), a response's .json()
  Yaml,
  Toml,
  Xml,
  CsvRow,       // a row of csv.DictReader
  ConfigFile,   // a configparser parser
  Request,      // a request's headers, args, form, ...
  Kwargs,       // the ** parameter
  Parameter,    // any other parameter
  CallResult,   // what a call returned
  Local,        // bound in the function
  Literal,      // a dict (or list, tuple, string) literal built in the function
  Count,
};

inline constexpr std::size_t kRiskOriginCount = static_cast<std::size_t>(RiskOrigin::Count);

// The key of the fact (V, it) that V holds a value from `origin` on every
// path.
std::string origin_key(RiskOrigin origin);

// Whether values of this origin come from outside the program.
bool is_outside_data(RiskOrigin origin);

// The origin of the value an expression makes, from the table of origins:
// `json.loads(text)`, `os.environ`, `request.headers`, ...; CallResult for
// another call, Literal for a literal or `dict(...)`; nothing for a name or
// a lookup (their origins are the dataflow's).
std::optional<RiskOrigin> origin_of_value(TSNode value, const PreciseKinds& k,
                                          std::string_view source);

// A loop's target over `iterable`: a row of `csv.DictReader(...)`.
std::optional<RiskOrigin> origin_of_items(TSNode iterable, const PreciseKinds& k,
                                          std::string_view source);

// What the ranking knows of one lookup `V[K]`: the origins that hold on
// every path for V, for the name V's chain of lookups starts from, and for
// the name K starts from (bit i for RiskOrigin i).
struct LookupShape {
  std::string object;
  std::string key_root;  // the name K starts from, if K is no constant
  bool constant_key = false;
  bool object_is_name = false;
  bool object_is_attribute = false;  // self.x, cls.x, module.x
  bool object_is_call = false;       // f()[k]
  // A dict the program writes out: a literal in place, or a constant of
  // the module.
  bool object_is_literal = false;
  // What the container's own expression says, wherever it is written:
  // `json.loads(text)[k]`, `request.headers[k]` (bit i for RiskOrigin i).
  uint16_t written_origins = 0;
  uint16_t object_origins = 0;
  uint16_t root_origins = 0;
  uint16_t key_origins = 0;
};

// How a finding names an origin: "JSON data", "an environment variable".
std::string_view origin_reason(RiskOrigin origin);

// The first origin of outside data among the bits of `origins`.
std::optional<RiskOrigin> outside_origin(uint16_t origins);

// The confidence and reason of a lookup's finding.
Risk rank_lookup(const LookupShape& shape);

// A call's finding, from the risk of the lookup its KeyError comes from.
Risk rank_call(const std::optional<Risk>& origin);

}  // namespace keyhound
