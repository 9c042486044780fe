#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

namespace keyhound {

// The paths below `directory` that git ignores there (.gitignore files at
// every level, .git/info/exclude and the user's global excludes, with git's
// own rules), relative to `directory`; an ignored directory is listed once,
// with a trailing slash, for everything beneath it. Nothing when git is
// not installed or `directory` lies in no work tree: the caller then walks
// without it.
std::optional<std::unordered_set<std::string>> git_ignored_paths(const std::string& directory);

}  // namespace keyhound
