#include "syntax/python_grammar.hpp"

#include <cstring>
#include <string>

#include "base/internal_fault.hpp"
#include "syntax/parse_memory.hpp"

namespace keyhound {
namespace {

TSSymbol named_symbol(const TSLanguage* language, const char* name) {
  TSSymbol symbol = ts_language_symbol_for_name(
      language, name, static_cast<uint32_t>(std::strlen(name)), true);
  if (symbol == 0) throw InternalFault(std::string("grammar has no node kind ") + name);
  return symbol;
}

TSFieldId field(const TSLanguage* language, const char* name) {
  TSFieldId id = ts_language_field_id_for_name(
      language, name, static_cast<uint32_t>(std::strlen(name)));
  if (id == 0) throw InternalFault(std::string("grammar has no field ") + name);
  return id;
}

PythonGrammar look_up() {
  const TSLanguage* language = tree_sitter_python();
  return PythonGrammar{
      .language = language,
      .function_definition = named_symbol(language, "function_definition"),
      .call = named_symbol(language, "call"),
      .subscript = named_symbol(language, "subscript"),
      .try_statement = named_symbol(language, "try_statement"),
      .except_clause = named_symbol(language, "except_clause"),
      .as_pattern = named_symbol(language, "as_pattern"),
      .parenthesized_expression = named_symbol(language, "parenthesized_expression"),
      .tuple = named_symbol(language, "tuple"),
      .attribute = named_symbol(language, "attribute"),
      .identifier = named_symbol(language, "identifier"),
      .comment = named_symbol(language, "comment"),
      .string = named_symbol(language, "string"),
      .line_continuation = named_symbol(language, "line_continuation"),
      .name_field = field(language, "name"),
      .function_field = field(language, "function"),
      .value_field = field(language, "value"),
      .object_field = field(language, "object"),
      .attribute_field = field(language, "attribute"),
      .alias_field = field(language, "alias"),
  };
}

}  // namespace

TSSymbol grammar_symbol(const char* name) { return named_symbol(tree_sitter_python(), name); }
TSFieldId grammar_field(const char* name) { return field(tree_sitter_python(), name); }

const PythonGrammar& python_grammar() {
  // Every parse starts here, so the allocator is in place before the first.
  install_tree_sitter_allocator();
  static const PythonGrammar grammar = look_up();
  return grammar;
}

uint32_t grammar_symbol_count() { return ts_language_symbol_count(python_grammar().language); }

}  // namespace keyhound
