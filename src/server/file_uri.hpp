#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace keyhound {

// The local path a `file:` URI names (percent-decoded), or nothing for any
// other URI (an unsaved buffer, a remote file) or one that does not decode.
std::optional<std::string> path_of_file_uri(std::string_view uri);

// The `file:` URI of an absolute path.
std::string file_uri_of(std::string_view path);

}  // namespace keyhound
