#include "base/source_encoding.hpp"

#include <iconv.h>

#include <cctype>
#include <cerrno>
#include <vector>

#include "base/utf8.hpp"
#include "base/ascii_case.hpp"

namespace keyhound {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// An iconv descriptor that is always closed.
class Converter {
 public:
  explicit Converter(const std::string& from) : handle_(::iconv_open("UTF-8", from.c_str())) {}
  ~Converter() {
    if (is_open()) ::iconv_close(handle_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool is_open() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return handle_; }

 private:
  iconv_t handle_;
};

// The declaration in one line, if it is a comment that holds one.
std::optional<std::string> declaration_in(std::string_view line) {
  std::size_t at = 0;
  while (at < line.size() && (line[at] == ' ' || line[at] == '\t' || line[at] == '\f')) ++at;
  if (at == line.size() || line[at] != '#') return std::nullopt;
  for (std::size_t found = line.find("coding", at); found != std::string_view::npos;
       found = line.find("coding", found + 1)) {
    std::size_t after = found + 6;
    if (after >= line.size() || (line[after] != ':' && line[after] != '=')) continue;
    ++after;
    while (after < line.size() && (line[after] == ' ' || line[after] == '\t')) ++after;
    std::size_t end = after;
    while (end < line.size() && (std::isalnum(static_cast<unsigned char>(line[end])) ||
                                 line[end] == '-' || line[end] == '_' || line[end] == '.')) {
      ++end;
    }
    if (end > after) return std::string(line.substr(after, end - after));
  }
  return std::nullopt;
}

bool is_blank_or_comment(std::string_view line) {
  for (char c : line) {
    if (c == '#') return true;
    if (c != ' ' && c != '\t' && c != '\f' && c != '\r') return false;
  }
  return true;
}

bool is_utf8_name(const std::string& name) {
  const std::string lowered = ascii_lowercase(name);
  return lowered == "utf-8" || lowered == "utf8" || lowered == "utf_8" || lowered.starts_with("utf-8-") ||
         lowered.starts_with("utf_8_");
}

// Python's codec names as iconv knows them: as written, then with `_` for
// `-`, then without either ("latin-1" is iconv's "latin1").
std::optional<std::string> iconv_name(const std::string& name) {
  std::string dashes = name;
  for (char& c : dashes) c = c == '_' ? '-' : c;
  std::string bare;
  for (char c : name) {
    if (c != '-' && c != '_') bare += c;
  }
  std::string underscores = name;
  for (char& c : underscores) c = c == '-' ? '_' : c;
  for (const std::string& candidate : {name, dashes, bare, underscores}) {
    if (Converter(candidate).is_open()) return candidate;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> declared_encoding(std::string_view source) {
  if (source.starts_with(kByteOrderMark)) source.remove_prefix(kByteOrderMark.size());
  std::size_t first_end = source.find('\n');
  std::string_view first = source.substr(0, first_end);
  if (auto declared = declaration_in(first)) return declared;
  if (first_end == std::string_view::npos || !is_blank_or_comment(first)) return std::nullopt;
  std::string_view rest = source.substr(first_end + 1);
  return declaration_in(rest.substr(0, rest.find('\n')));
}

std::expected<std::string, std::string> decode_python_source(std::string source) {
  const bool bom = std::string_view(source).starts_with(kByteOrderMark);
  std::optional<std::string> declared = declared_encoding(source);
  if (!declared || is_utf8_name(*declared)) {
    if (!is_valid_utf8(source)) return std::unexpected("stream did not contain valid UTF-8");
    return source;
  }
  if (bom) {
    return std::unexpected("encoding problem: a UTF-8 byte order mark with the declaration '" +
                           *declared + "'");
  }
  std::optional<std::string> name = iconv_name(*declared);
  if (!name) return std::unexpected("unknown encoding '" + *declared + "' declared");
  Converter converter(*name);
  std::string decoded;
  std::vector<char> chunk(1 << 16);
  char* in = source.data();
  std::size_t in_left = source.size();
  while (in_left > 0) {
    char* out = chunk.data();
    std::size_t out_left = chunk.size();
    const std::size_t result = ::iconv(converter.get(), &in, &in_left, &out, &out_left);
    decoded.append(chunk.data(), chunk.size() - out_left);
    if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
      return std::unexpected("cannot be decoded as '" + *declared + "': invalid bytes at offset " +
                             std::to_string(source.size() - in_left));
    }
  }
  if (!is_valid_utf8(decoded)) return std::unexpected("stream did not contain valid UTF-8");
  return decoded;
}

}  // namespace keyhound
