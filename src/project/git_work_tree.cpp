#include "project/git_work_tree.hpp"

#include <sys/stat.h>

#include <cctype>

#include "base/environment.hpp"
#include "base/ascii_case.hpp"
#include "base/home_directory.hpp"
#include "base/path_names.hpp"
#include "base/plain_file.hpp"

namespace keyhound {
namespace {

// An ignore file larger than this is not read: no real one nears it, and
// every pattern costs a match for every path of the walk.
constexpr std::size_t kLargestIgnoreFile = std::size_t{1} << 20;
// A .git file holds one line naming the real git directory.
constexpr std::size_t kLargestGitFile = 4096;

std::optional<std::string> read_small_file(const std::string& path, std::size_t most_bytes,
                                           bool follow_links = true) {
  auto text = read_plain_file(path, PlainReadOptions{.most_bytes = most_bytes,
                                                     .follow_links = follow_links});
  if (!text) return std::nullopt;
  return std::move(*text);
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

// The directory holding `info/exclude` for the work tree at `top`: its
// `.git` directory, or the one a `.git` file points to (and, for a linked
// work tree, the common directory that one names).
std::optional<std::string> git_directory(const std::string& top) {
  const std::string dot_git = join_path(top, ".git");
  struct stat status;
  if (::lstat(dot_git.c_str(), &status) != 0) return std::nullopt;
  if (S_ISDIR(status.st_mode)) return dot_git;
  if (!S_ISREG(status.st_mode)) return std::nullopt;
  auto text = read_small_file(dot_git, kLargestGitFile);
  if (!text) return std::nullopt;
  std::string_view line = trimmed(*text);
  if (!line.starts_with("gitdir:")) return std::nullopt;
  std::string directory = absolute_path(trimmed(line.substr(7)), top);
  if (auto common = read_small_file(join_path(directory, "commondir"), kLargestGitFile)) {
    directory = absolute_path(trimmed(*common), directory);
  }
  return directory;
}

std::shared_ptr<const GitIgnoreFile> read_ignore_file(const std::string& path, std::size_t depth) {
  auto text = read_small_file(path, kLargestIgnoreFile);
  if (!text) return nullptr;
  auto file = std::make_shared<GitIgnoreFile>(parse_gitignore(*text, depth));
  if (file->patterns.empty()) return nullptr;
  return file;
}

// A configuration value: quotes dropped, escapes taken, a comment cut off.
std::string config_value(std::string_view raw) {
  std::string value;
  bool quoted = false;
  std::string pending_space;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    char c = raw[i];
    if (!quoted && (c == '#' || c == ';')) break;
    if (c == '"') {
      quoted = !quoted;
      continue;
    }
    if (c == '\\' && i + 1 < raw.size()) {
      char next = raw[++i];
      value += pending_space;
      pending_space.clear();
      value += next == 'n' ? '\n' : next == 't' ? '\t' : next;
      continue;
    }
    if (!quoted && (c == ' ' || c == '\t')) {
      // Inner white space is kept, trailing white space is not.
      if (!value.empty()) pending_space += c;
      continue;
    }
    value += pending_space;
    pending_space.clear();
    value += c;
  }
  return value;
}

}  // namespace

bool is_work_tree_top(const std::string& directory) {
  struct stat status;
  const std::string dot_git = join_path(directory, ".git");
  return ::lstat(dot_git.c_str(), &status) == 0 &&
         (S_ISDIR(status.st_mode) || S_ISREG(status.st_mode));
}

std::optional<std::string> enclosing_work_tree(const std::string& absolute_directory) {
  std::string directory = absolute_directory;
  for (;;) {
    if (is_work_tree_top(directory)) return directory;
    if (directory == "/" || directory.empty()) return std::nullopt;
    std::size_t slash = directory.rfind('/');
    directory = slash == 0 || slash == std::string::npos ? "/" : directory.substr(0, slash);
  }
}

std::optional<std::string> excludes_file_setting(std::string_view config, std::string_view home) {
  std::optional<std::string> setting;
  bool in_core = false;
  while (!config.empty()) {
    std::size_t end = config.find('\n');
    std::string_view line = config.substr(0, end);
    config.remove_prefix(end == std::string_view::npos ? config.size() : end + 1);
    // A line ending in a backslash goes on on the next.
    std::string joined(line);
    while (joined.ends_with('\\') && !config.empty()) {
      joined.pop_back();
      end = config.find('\n');
      joined += config.substr(0, end);
      config.remove_prefix(end == std::string_view::npos ? config.size() : end + 1);
    }
    std::string_view text = trimmed(joined);
    if (text.empty() || text.front() == '#' || text.front() == ';') continue;
    if (text.front() == '[') {
      std::size_t close = text.find(']');
      std::string_view header = trimmed(text.substr(1, close == std::string_view::npos
                                                           ? std::string_view::npos
                                                           : close - 1));
      in_core = ascii_lowercase(header) == "core";
      // A setting may follow the header on its line.
      if (close == std::string_view::npos) continue;
      text = trimmed(text.substr(close + 1));
      if (text.empty() || text.front() == '#' || text.front() == ';') continue;
    }
    if (!in_core) continue;
    std::size_t equals = text.find('=');
    std::string_view key = trimmed(text.substr(0, equals));
    if (ascii_lowercase(key) != "excludesfile" || equals == std::string_view::npos) continue;
    std::string value = config_value(trimmed(text.substr(equals + 1)));
    if (value.starts_with("~/") && !home.empty()) value = std::string(home) + value.substr(1);
    setting = std::move(value);
  }
  if (setting && setting->empty()) return std::nullopt;
  return setting;
}

std::optional<std::string> global_excludes_path() {
  const std::string home = home_directory();
  std::string xdg(environment_value("XDG_CONFIG_HOME").value_or(""));
  if (xdg.empty() && !home.empty()) xdg = home + "/.config";
  std::vector<std::string> configs;
  if (auto global = environment_value("GIT_CONFIG_GLOBAL")) {
    configs.emplace_back(*global);
  } else {
    if (!xdg.empty()) configs.push_back(xdg + "/git/config");
    if (!home.empty()) configs.push_back(home + "/.gitconfig");
  }
  std::optional<std::string> path;
  for (const std::string& config : configs) {
    if (auto text = read_small_file(config, kLargestIgnoreFile)) {
      if (auto set = excludes_file_setting(*text, home)) path = std::move(set);
    }
  }
  if (path) return path;
  if (xdg.empty()) return std::nullopt;
  return xdg + "/git/ignore";
}

std::shared_ptr<const GitIgnoreRules> work_tree_base_rules(const std::string& top) {
  std::shared_ptr<const GitIgnoreRules> rules;
  if (auto global = global_excludes_path()) {
    if (auto file = read_ignore_file(absolute_path(*global, top), 0)) {
      rules = std::make_shared<GitIgnoreRules>(rules, std::move(file));
    }
  }
  if (auto directory = git_directory(top)) {
    if (auto file = read_ignore_file(join_path(*directory, "info/exclude"), 0)) {
      rules = std::make_shared<GitIgnoreRules>(rules, std::move(file));
    }
  }
  // Rules with no source still mark the walk as inside a work tree.
  if (!rules) rules = std::make_shared<GitIgnoreRules>();
  return rules;
}

std::shared_ptr<const GitIgnoreFile> read_gitignore(const std::string& directory,
                                                    std::size_t depth) {
  auto text = read_small_file(join_path(directory, ".gitignore"), kLargestIgnoreFile,
                              /*follow_links=*/false);
  if (!text) return nullptr;
  auto file = std::make_shared<GitIgnoreFile>(parse_gitignore(*text, depth));
  if (file->patterns.empty()) return nullptr;
  return file;
}

}  // namespace keyhound
