#include "formats/finding_fields.hpp"

#include <cstdio>
#include <variant>

namespace keyhound {

std::vector<FindingFields> finding_fields(const FileReport& report) {
  std::vector<FindingFields> fields;
  for (const Finding& finding : report.findings) {
    if (const auto* syntax = std::get_if<SyntaxErrorFinding>(&finding)) {
      fields.push_back(FindingFields{kSyntaxCode, std::string(kSyntaxErrorMessage),
                                     kModuleEntryName, syntax->start, syntax->end, "", nullptr,
                                     syntax->comment_row});
    } else if (const auto* access = std::get_if<AccessFinding>(&finding)) {
      if (!report.shows(*access)) continue;
      fields.push_back(FindingFields{kAccessCode,
                                     "Possible KeyError in function '" + access->function + "'",
                                     access->function, access->start, access->end,
                                     access->source_text, nullptr, access->comment_row});
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
                                     call, call->comment_row});
    }
  }
  return fields;
}

namespace {

std::string key_of(std::string_view path, std::string_view code, std::string_view function,
                   std::string_view text, const std::string* callee) {
  std::string key(path);
  key += '\t';
  key += code;
  key += '\t';
  key += function;
  key += '\t';
  key += text;
  if (callee != nullptr) {
    key += '\t';
    key += *callee;
  }
  return key;
}

}  // namespace

std::string finding_key(std::string_view path, const FindingFields& finding) {
  return key_of(path, finding.code, finding.function, finding.source_text,
                finding.call != nullptr ? &finding.call->callee : nullptr);
}

std::string stable_hash(std::string_view text) {
  uint64_t hash = 14695981039346656037ULL;
  for (char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return hex;
}

}  // namespace keyhound
