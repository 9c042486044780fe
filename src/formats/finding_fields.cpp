#include "formats/finding_fields.hpp"

#include <cstdio>
#include <variant>

namespace keyhound {

std::vector<FindingFields> finding_fields(const FileReport& report) {
  std::vector<FindingFields> fields;
  for (const Finding& finding : report.findings) {
    if (const auto* access = std::get_if<AccessFinding>(&finding)) {
      fields.push_back(FindingFields{kAccessCode,
                                     "Possible KeyError in function '" + access->function + "'",
                                     access->function, access->start, access->end,
                                     access->source_text, nullptr});
    } else if (const auto* call = std::get_if<CallFinding>(&finding)) {
      std::string exceptions;
      for (const std::string& name : call->exceptions) {
        if (!exceptions.empty()) exceptions += ", ";
        exceptions += name;
      }
      fields.push_back(FindingFields{kCallCode,
                                     "Possible " + exceptions + " not handled when calling '" +
                                         call->callee + "' in function '" + call->function + "'",
                                     call->function, call->start, call->end, call->source_text,
                                     call});
    }
  }
  return fields;
}

std::string finding_key(std::string_view path, const FindingFields& finding) {
  std::string key(path);
  key += '\t';
  key += finding.code;
  key += '\t';
  key += finding.function;
  key += '\t';
  key += finding.source_text;
  if (finding.call != nullptr) {
    key += '\t';
    key += finding.call->callee;
  }
  return key;
}

std::string stable_hash(std::string_view text) {
  uint64_t hash = 14695981039346656037ULL;
  for (char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return hex;
}

}  // namespace keyhound
