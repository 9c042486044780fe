#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "analysis/findings.hpp"

namespace keyhound {

// A file's findings as bytes, for the result cache: everything the analysis
// found, nothing of how it is shown (the path, the format and the colour are
// applied on every run). The excerpt lines are not kept: they come from the
// file's text when the entry is read.
std::string encode_findings(const FileReport& report);

// The report `encode_findings` made, for the file shown as `path` whose text
// is `source`; nothing when the bytes are truncated, corrupt, not an entry
// at all, or do not fit the text (a position outside it, a name the terminal
// could not show as it is).
std::optional<FileReport> decode_findings(std::string_view bytes, std::string_view path,
                                          std::string_view source);

}  // namespace keyhound
