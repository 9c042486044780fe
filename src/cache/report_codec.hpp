#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "analysis/findings.hpp"

namespace keyhound {

// A file's findings as bytes, for the result cache: everything the analysis
// found, nothing of how it is shown (the path, the format and the colour are
// applied on every run). The bytes end with a checksum of the rest.
std::string encode_findings(const FileReport& report);

// The report `encode_findings` made, for the file shown as `path`; nothing
// when the bytes are truncated, corrupt or not an entry at all.
std::optional<FileReport> decode_findings(std::string_view bytes, std::string_view path);

}  // namespace keyhound
