#pragma once

#include <memory>
#include <optional>
#include <string>

#include "project/gitignore_rules.hpp"

namespace keyhound {

// What keyhound reads of git, without ever starting it: a work tree's
// ignore files, its .git/info/exclude and the user's global excludes file.
// Nothing of the tree's own git configuration is read (it may name hooks,
// an fsmonitor, aliases: commands that the tree's author chose).

// Whether `directory` is the top of a work tree: it holds a `.git`
// directory, or a `.git` file (a submodule or a linked work tree).
bool is_work_tree_top(const std::string& directory);

// The rules in force at the top of the work tree `top` (the global
// excludes, then its info/exclude), before any of its .gitignore files.
std::shared_ptr<const GitIgnoreRules> work_tree_base_rules(const std::string& top);

// The top of the work tree that holds `absolute_directory` (itself or the
// nearest ancestor with a `.git`), or nothing outside every work tree.
std::optional<std::string> enclosing_work_tree(const std::string& absolute_directory);

// The patterns of the `.gitignore` in `directory`, whose components below
// the work tree's top number `depth`; nothing without one. A .gitignore
// that is a symbolic link is not read, as git does not read it.
std::shared_ptr<const GitIgnoreFile> read_gitignore(const std::string& directory, std::size_t depth);

// Where the user's global excludes file is: `core.excludesFile` from the
// user's own git configuration (GIT_CONFIG_GLOBAL, else
// $XDG_CONFIG_HOME/git/config and ~/.gitconfig, the later winning), else
// $XDG_CONFIG_HOME/git/ignore (~/.config/git/ignore). Nothing without a
// home to look in.
std::optional<std::string> global_excludes_path();

// `core.excludesFile` as one git configuration text sets it (the last
// setting wins), `~/` taken against `home`.
std::optional<std::string> excludes_file_setting(std::string_view config, std::string_view home);

}  // namespace keyhound
