#include "test_support.hpp"

#include "syntax/parse_python.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <stdexcept>

#include "syntax/preorder_walk.hpp"
#include "syntax/python_grammar.hpp"
#include "syntax/node_text.hpp"

namespace keyhound::testing {

std::string case_name(std::size_t index, std::string_view text) {
  std::string name = "case" + std::to_string(index) + "_";
  for (char c : text) {
    bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    name += keep ? c : '_';
    if (name.size() > 60) break;
  }
  return name;
}

ParsedSource::ParsedSource(std::string text)
    : text_(std::move(text)), tree_(parse_python(text_)) {}

std::vector<TSNode> ParsedSource::all(std::string_view kind) const {
  std::vector<TSNode> nodes;
  walk_preorder(root(), [&](TSNode node) {
    if (ts_node_type(node) == kind) nodes.push_back(node);
  });
  return nodes;
}

TSNode ParsedSource::first(std::string_view kind) const {
  std::vector<TSNode> nodes = all(kind);
  if (nodes.empty()) throw std::runtime_error("no node of kind " + std::string(kind));
  return nodes.front();
}

std::string_view ParsedSource::text_of(TSNode node) const { return node_text(node, text_); }

void replace_ascii(OpenDocument& document, std::size_t from, std::size_t to, std::string text,
                   PositionEncoding encoding) {
  auto position_of = [&](std::size_t offset) {
    const TextPoint point = document.lines().point_of(static_cast<uint32_t>(offset));
    return LinePosition{point.row, point.byte_column};
  };
  ContentChange change{std::make_pair(position_of(from), position_of(to)), std::move(text)};
  document.apply({change}, document.version() + 1, encoding);
}

}  // namespace keyhound::testing
