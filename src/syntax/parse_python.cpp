#include "syntax/parse_python.hpp"

#include <limits>
#include <string>

#include "base/internal_fault.hpp"
#include "syntax/python_grammar.hpp"

namespace keyhound {

Parser make_python_parser() {
  Parser parser(ts_parser_new());
  const TSLanguage* language = python_grammar().language;
  if (!ts_parser_set_language(parser.get(), language)) {
    throw InternalFault(
        "Error loading Python grammar: incompatible language version " +
        std::to_string(ts_language_version(language)) + ". Expected minimum " +
        std::to_string(TREE_SITTER_MIN_COMPATIBLE_LANGUAGE_VERSION) + ", maximum " +
        std::to_string(TREE_SITTER_LANGUAGE_VERSION));
  }
  return parser;
}

Tree parse_python(std::string_view source, const std::size_t* cancellation_flag) {
  if (source.size() > std::numeric_limits<uint32_t>::max()) {
    throw InternalFault("source text larger than 4 GiB");
  }
  Parser parser = make_python_parser();
  ts_parser_set_cancellation_flag(parser.get(), cancellation_flag);
  Tree tree(ts_parser_parse_string(parser.get(), nullptr, source.data(),
                                   static_cast<uint32_t>(source.size())));
  if (!tree && cancellation_flag == nullptr) {
    throw InternalFault("Error parsing Python source: the parser returned no tree");
  }
  return tree;
}

}  // namespace keyhound
