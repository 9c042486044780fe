#include "analysis/finding_identity.hpp"

#include <algorithm>
#include <iterator>

#include <variant>

#include "syntax/module_entry.hpp"

namespace keyhound {
namespace {

void append_field(std::string& key, std::string_view field, KeyFields fields) {
  if (fields == KeyFields::AsWritten) {
    key += field;
    return;
  }
  for (char c : field) {
    if (c == '\\') {
      key += "\\\\";
    } else if (c == '\t') {
      key += "\\t";
    } else if (c == '\n') {
      key += "\\n";
    } else if (c == '\r') {
      key += "\\r";
    } else {
      key += c;
    }
  }
}

}  // namespace

const Risk* risk_of(const Finding& finding) {
  if (const auto* access = std::get_if<AccessFinding>(&finding)) {
    return access->risk ? &*access->risk : nullptr;
  }
  if (const auto* call = std::get_if<CallFinding>(&finding)) return call->risk ? &*call->risk : nullptr;
  return nullptr;
}

std::string_view code_of(const Finding& finding) {
  if (std::holds_alternative<AccessFinding>(finding)) return kAccessCode;
  if (std::holds_alternative<CallFinding>(finding)) return kCallCode;
  if (std::holds_alternative<SyntaxErrorFinding>(finding)) return kSyntaxCode;
  if (std::holds_alternative<UnusedSuppressionFinding>(finding)) return kUnusedSuppressionCode;
  return {};
}

std::optional<uint32_t> comment_row_of(const Finding& finding) {
  if (const auto* access = std::get_if<AccessFinding>(&finding)) return access->comment_row;
  if (const auto* call = std::get_if<CallFinding>(&finding)) return call->comment_row;
  if (const auto* syntax = std::get_if<SyntaxErrorFinding>(&finding)) return syntax->comment_row;
  if (const auto* unused = std::get_if<UnusedSuppressionFinding>(&finding)) {
    return unused->comment_row;
  }
  return std::nullopt;
}

std::string message_of(const AccessFinding& access) {
  return "Possible KeyError in function '" + access.function + "'";
}

std::string message_of(const CallFinding& call) {
  std::string exceptions;
  for (const std::string& name : call.exceptions) {
    if (!exceptions.empty()) exceptions += ", ";
    exceptions += name;
  }
  return "Possible " + exceptions + " not handled when calling '" + call.callee +
         "' in function '" + call.function + "'";
}

std::string message_of(const SyntaxErrorFinding&) { return std::string(kSyntaxErrorMessage); }

std::string message_of(const UnusedSuppressionFinding& unused) {
  if (unused.codes.empty()) return "Unused suppression: nothing on this line is reported";
  std::string codes;
  for (const std::string& code : unused.codes) codes += (codes.empty() ? "" : ", ") + code;
  return "Unused suppression: nothing on this line is reported as " + codes;
}

std::string message_of(const FunctionSummary& summary) {
  return function_warnings_message(summary.function);
}

std::string message_of(const Finding& finding) {
  return std::visit([](const auto& record) { return message_of(record); }, finding);
}

namespace {

void append_place(std::string& message, std::string_view function) {
  if (function == kModuleEntryName) {
    message += " at module level";
    return;
  }
  message += " in function '";
  message += function;
  message += '\'';
}

}  // namespace

std::string readable_message(const AccessFinding& access) {
  // Sized once: a report of thousands is written at every keystroke.
  std::string message;
  message.reserve(64 + access.display_text.size() +
                  (access.risk ? access.risk->reason.size() : 0) + access.function.size());
  message += "Possible KeyError: ";
  message += access.display_text;
  if (access.risk && !access.risk->reason.empty()) {
    message += " (";
    message += access.risk->reason;
    message += ')';
  }
  append_place(message, access.function);
  return message;
}

ShownRow shown_row(std::span<const NotebookCell> cells, uint32_t row) {
  // The last cell that starts at or before the row holds it.
  auto after = std::upper_bound(cells.begin(), cells.end(), row,
                                [](uint32_t at, const NotebookCell& cell) {
                                  return at < cell.first_row;
                                });
  if (after == cells.begin()) return ShownRow{0, uint64_t{row} + 1};
  const NotebookCell& cell = *std::prev(after);
  return ShownRow{cell.number, uint64_t{row - cell.first_row} + 1};
}

std::string shown_location(const ShownPath& path, uint32_t row, uint64_t column) {
  std::string location(path.path);
  const ShownRow shown = shown_row(path.cells, row);
  if (shown.cell != 0) {
    location += ":cell ";
    location += std::to_string(shown.cell);
  }
  location += ':';
  location += std::to_string(shown.row);
  location += ':';
  location += std::to_string(column + 1);
  return location;
}

std::string readable_message(const CallFinding& call, const ShownPath& path) {
  std::string message = "Possible ";
  for (std::size_t i = 0; i < call.exceptions.size(); ++i) {
    if (i > 0) message += ", ";
    message += call.exceptions[i];
  }
  message += ": ";
  message += call.display_text;
  append_place(message, call.function);
  message += " can raise it";
  if (call.origin) {
    message += " (from ";
    message += call.origin->display_text;
    message += " at ";
    message += shown_location(path, call.origin->position.row,
                              call.origin->position.code_point_column);
    message += ')';
  }
  return message;
}

std::string readable_message(const Finding& finding, const ShownPath& path) {
  if (const auto* access = std::get_if<AccessFinding>(&finding)) return readable_message(*access);
  if (const auto* call = std::get_if<CallFinding>(&finding)) return readable_message(*call, path);
  return message_of(finding);
}

std::string finding_key(std::string_view path, const Finding& finding, KeyFields fields) {
  std::string key;
  append_field(key, path, fields);
  key += '\t';
  key += code_of(finding);
  key += '\t';
  if (const auto* access = std::get_if<AccessFinding>(&finding)) {
    append_field(key, access->function, fields);
    key += '\t';
    append_field(key, access->source_text, fields);
  } else if (const auto* call = std::get_if<CallFinding>(&finding)) {
    append_field(key, call->function, fields);
    key += '\t';
    append_field(key, call->source_text, fields);
    key += '\t';
    append_field(key, call->callee, fields);
  } else if (const auto* unused = std::get_if<UnusedSuppressionFinding>(&finding)) {
    // The comment's own text is on no node: its codes stand for it.
    key += kModuleEntryName;
    key += '\t';
    for (const std::string& code : unused->codes) append_field(key, code + " ", fields);
  } else {
    key += kModuleEntryName;
    key += '\t';
  }
  return key;
}

std::string key_path_field(std::string_view path, KeyFields fields) {
  std::string field;
  append_field(field, path, fields);
  return field;
}

std::string_view path_field_of_key(std::string_view key) { return key.substr(0, key.find('\t')); }

}  // namespace keyhound
