#include "server/file_uri.hpp"

#include "base/path_names.hpp"

namespace keyhound {

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::string> path_of_file_uri(std::string_view uri) {
  constexpr std::string_view kScheme = "file://";
  if (uri.size() < kScheme.size() || !uri.starts_with(kScheme)) return std::nullopt;
  std::string_view rest = uri.substr(kScheme.size());
  // An authority other than the local host is another machine's file.
  std::size_t slash = rest.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  std::string_view authority = rest.substr(0, slash);
  if (!authority.empty() && authority != "localhost") return std::nullopt;
  rest = rest.substr(slash);
  std::string path;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '?' || rest[i] == '#') break;
    if (rest[i] != '%') {
      path += rest[i];
      continue;
    }
    if (i + 2 >= rest.size()) return std::nullopt;
    int high = hex_value(rest[i + 1]);
    int low = hex_value(rest[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    const char decoded = static_cast<char>(high * 16 + low);
    if (decoded == '\0') return std::nullopt;
    path += decoded;
    i += 2;
  }
  return path;
}

std::string file_uri_of(std::string_view path) { return "file://" + uri_path(path); }

}  // namespace keyhound
