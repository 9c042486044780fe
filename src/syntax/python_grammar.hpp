#pragma once

#include <tree_sitter/api.h>

#include <cstdint>

extern "C" const TSLanguage* tree_sitter_python(void);

namespace keyhound {

// Node kinds and field names the queries use, looked up once so that the
// walks compare small integers instead of strings. `ts_node_symbol` answers
// with the public symbol, which is what the name lookup returns.
struct PythonGrammar {
  const TSLanguage* language;

  TSSymbol function_definition;
  TSSymbol call;
  TSSymbol subscript;
  TSSymbol try_statement;
  TSSymbol except_clause;
  TSSymbol as_pattern;
  TSSymbol parenthesized_expression;
  TSSymbol tuple;
  TSSymbol attribute;
  TSSymbol identifier;
  TSSymbol comment;
  TSSymbol string;
  TSSymbol line_continuation;

  TSFieldId name_field;
  TSFieldId function_field;
  TSFieldId value_field;
  TSFieldId object_field;
  TSFieldId attribute_field;
  TSFieldId alias_field;
};

const PythonGrammar& python_grammar();

// A named node kind or a field of the grammar, by name. A name the grammar
// does not know is an internal fault, never a silent zero that would turn a
// rule off.
TSSymbol grammar_symbol(const char* name);
TSFieldId grammar_field(const char* name);
// How many node kinds the grammar has: the size of a table indexed by kind.
uint32_t grammar_symbol_count();

}  // namespace keyhound
