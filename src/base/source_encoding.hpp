#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace keyhound {

// The encoding a Python source declares, as PEP 263 has it: a UTF-8 byte
// order mark, or a comment matching `coding[:=]\s*([-\w.]+)` on the first
// line, or on the second when the first is a comment or blank. Nothing
// when it declares none (UTF-8, then).
std::optional<std::string> declared_encoding(std::string_view source);

// The source as UTF-8 text: decoded from the encoding it declares, a byte
// order mark and an undeclared or UTF-8 source checked as UTF-8. The error
// is the read-error message: an unknown encoding, a byte order mark with
// another declaration, bytes the encoding cannot hold.
std::expected<std::string, std::string> decode_python_source(std::string source);

}  // namespace keyhound
