#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "analysis/findings.hpp"

namespace keyhound {

// What each finding is called, said and known by, derived here only.

// The confidence and reason of a lookup or call finding of precise mode;
// none for the others.
const Risk* risk_of(const Finding& finding);

// The rule code of a finding; empty for a function summary.
std::string_view code_of(const Finding& finding);

// The row where a suppression comment for a finding belongs; none for a
// function summary.
std::optional<uint32_t> comment_row_of(const Finding& finding);

// The one-line message of an access, call or syntax-error finding:
// "Possible KeyError in function 'f'", ...
std::string message_of(const Finding& finding);
std::string message_of(const AccessFinding& access);
std::string message_of(const CallFinding& call);
std::string message_of(const SyntaxErrorFinding& syntax);
std::string message_of(const UnusedSuppressionFinding& unused);
std::string message_of(const FunctionSummary& summary);

// The message of the command's default reports, which names the lookup:
// "Possible KeyError: cfg["port"] in function 'load'", and for a call
// where the KeyError comes from, as "{path}:{line}:{column}".
std::string readable_message(const Finding& finding, const ShownPath& path);
std::string readable_message(const AccessFinding& access);
std::string readable_message(const CallFinding& call, const ShownPath& path);


// How the fields of a key are written: as they are, or with tabs, line
// feeds, carriage returns and backslashes escaped, for a tab-separated file.
enum class KeyFields { AsWritten, Escaped };

// What identifies a finding across edits that do not touch it: the path,
// the code, the function, the node's tokens without white space, and for a
// call the callee, tab-separated; no line numbers.
std::string finding_key(std::string_view path, const Finding& finding, KeyFields fields);
// The path field a key begins with, for the file `path`.
std::string key_path_field(std::string_view path, KeyFields fields);
// The path field of `key`, as it stands in it.
std::string_view path_field_of_key(std::string_view key);

}  // namespace keyhound
