#include <gtest/gtest.h>

#include <tree_sitter/parser.h>

#include "base/internal_fault.hpp"
#include "syntax/parse_python.hpp"
#include "rules/precise_rules.hpp"
#include "syntax/python_grammar.hpp"

namespace keyhound {
namespace {

// The queries are written against this exact grammar: a different one may
// name its nodes and fields differently.
TEST(GrammarTest, LinkedGrammarIsTheOneTheQueriesExpect) {
  const TSLanguage* language = tree_sitter_python();
  EXPECT_EQ(ts_language_version(language), 14u);
  EXPECT_EQ(language->symbol_count, 273u);
  EXPECT_EQ(ts_language_field_count(language), 32u);
}

TEST(GrammarTest, KindsAndFieldsResolveToTheirNames) {
  const PythonGrammar& grammar = python_grammar();
  const TSLanguage* language = grammar.language;
  EXPECT_STREQ(ts_language_symbol_name(language, grammar.try_statement), "try_statement");
  EXPECT_STREQ(ts_language_symbol_name(language, grammar.except_clause), "except_clause");
  EXPECT_STREQ(ts_language_symbol_name(language, grammar.subscript), "subscript");
  EXPECT_STREQ(ts_language_field_name_for_id(language, grammar.value_field), "value");
  EXPECT_STREQ(ts_language_field_name_for_id(language, grammar.name_field), "name");
}

}  // namespace
}  // namespace keyhound

namespace keyhound {
namespace {

TEST(GrammarLookupTest, AnUnknownKindOrFieldIsAFaultNotZero) {
  EXPECT_NE(grammar_symbol("subscript"), 0);
  EXPECT_NE(grammar_field("value"), 0);
  EXPECT_THROW(grammar_symbol("subscrpt"), InternalFault);
  EXPECT_THROW(grammar_field("valeu"), InternalFault);
}

TEST(GrammarLookupTest, EveryKindThePreciseRulesNameExists) {
  // The precise rules look their kinds up on first use: a misspelt one
  // throws here.
  EXPECT_NO_THROW(precise_facts(ts_tree_root_node(parse_python("d[k]\n").get()), "d[k]\n"));
}

}  // namespace
}  // namespace keyhound
