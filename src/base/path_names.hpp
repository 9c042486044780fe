#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace keyhound {

// A path cut at its slashes, with "." and empty components dropped and
// ".." taking back the component before it (lexically: links are not
// followed).
std::vector<std::string> path_components(std::string_view path);

// The absolute, lexically normalised form of `path`, taken against `base`
// (itself absolute) when relative.
std::string absolute_path(std::string_view path, std::string_view base);

// `path` (absolute, normalised) relative to `base` (the same), with ".."
// where it lies outside; "." for the base itself.
std::string relative_path(std::string_view path, std::string_view base);

// The current working directory, or "/" when it cannot be had.
std::string current_directory();

// `directory` and `name` joined with one slash; "." as the directory adds
// nothing, so that files found under "." read as "a.py", not "./a.py".
std::string join_path(std::string_view directory, std::string_view name);

// A path as a URI reference: slashes kept, every byte outside the
// unreserved set percent-encoded.
std::string uri_path(std::string_view path);

// A name for display: valid UTF-8 stays as it is, every byte that is not
// part of a valid sequence becomes "\xNN".
std::string escape_invalid_utf8(std::string_view name);

}  // namespace keyhound
