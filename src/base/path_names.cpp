#include "base/path_names.hpp"

#include <unistd.h>

#include <climits>

#include "base/utf8.hpp"

namespace keyhound {

std::vector<std::string> path_components(std::string_view path) {
  std::vector<std::string> components;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t slash = path.find('/', start);
    if (slash == std::string_view::npos) slash = path.size();
    std::string_view part = path.substr(start, slash - start);
    if (part == "..") {
      if (!components.empty()) components.pop_back();
    } else if (!part.empty() && part != ".") {
      components.emplace_back(part);
    }
    start = slash + 1;
  }
  return components;
}

std::string absolute_path(std::string_view path, std::string_view base) {
  std::string joined;
  if (!path.starts_with('/')) {
    joined = base;
    joined += '/';
  }
  joined += path;
  std::string result;
  for (const std::string& component : path_components(joined)) {
    result += '/';
    result += component;
  }
  return result.empty() ? "/" : result;
}

std::string relative_path(std::string_view path, std::string_view base) {
  std::vector<std::string> to = path_components(path);
  std::vector<std::string> from = path_components(base);
  std::size_t common = 0;
  while (common < to.size() && common < from.size() && to[common] == from[common]) ++common;
  std::string relative;
  for (std::size_t i = common; i < from.size(); ++i) relative += relative.empty() ? ".." : "/..";
  for (std::size_t i = common; i < to.size(); ++i) {
    if (!relative.empty()) relative += '/';
    relative += to[i];
  }
  return relative.empty() ? "." : relative;
}

std::string current_directory() {
  char buffer[PATH_MAX];
  if (::getcwd(buffer, sizeof buffer) == nullptr) return "/";
  return buffer;
}

std::string join_path(std::string_view directory, std::string_view name) {
  if (directory == ".") return std::string(name);
  std::string path(directory);
  if (!path.ends_with('/')) path += '/';
  path += name;
  return path;
}

std::string escape_invalid_utf8(std::string_view name) {
  if (is_valid_utf8(name)) return std::string(name);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string shown;
  std::size_t i = 0;
  while (i < name.size()) {
    auto lead = static_cast<unsigned char>(name[i]);
    if (std::size_t length = valid_utf8_sequence_at(name, i)) {
      shown += name.substr(i, length);
      i += length;
      continue;
    }
    shown += "\\x";
    shown += kHex[lead >> 4];
    shown += kHex[lead & 0xF];
    ++i;
  }
  return shown;
}

std::string uri_path(std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string uri;
  for (char c : path) {
    auto byte = static_cast<unsigned char>(c);
    bool unreserved = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                      (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' ||
                      byte == '_' || byte == '~' || byte == '/';
    if (unreserved) {
      uri += c;
    } else {
      uri += '%';
      uri += kHex[byte >> 4];
      uri += kHex[byte & 0xF];
    }
  }
  return uri;
}

}  // namespace keyhound
