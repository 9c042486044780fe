#pragma once

#include <expected>
#include <string>

#include "base/file_descriptor.hpp"
#include "cache/result_cache.hpp"

namespace keyhound {

// Opens the cache directory `path` as a descriptor, without following a
// link at its last component. A missing directory is made, with its tag
// and its .gitignore; an existing one is used only when its tag (or the
// .gitignore that earlier versions wrote) shows it is keyhound's, or when
// it is empty and was not named by a configuration file, and then gets a
// tag but no .gitignore. The error says why it cannot be used.
std::expected<FileDescriptor, std::string> open_cache_directory(const std::string& path,
                                                                CacheOrigin origin);

}  // namespace keyhound
