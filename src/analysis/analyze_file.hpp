#pragma once

#include <expected>
#include <string>
#include <string_view>

namespace keyhound {

// Analyses one file's text: parses it, finds the functions that may let a
// KeyError escape, and prints every finding and function summary as it is
// found. Success when nothing was found, else the error
// "Potential issue(s) found in '{path}'". `path` is used only in messages.
std::expected<void, std::string> analyze_file(std::string_view path, std::string_view source);

}  // namespace keyhound
