#include "syntax/precise/precise_kinds.hpp"

#include "syntax/python_grammar.hpp"

namespace keyhound {
namespace {

PreciseKinds look_up_kinds() {
  auto s = [](const char* name) { return grammar_symbol(name); };
  auto f = [](const char* name) { return grammar_field(name); };
  return PreciseKinds{
      .subscript = s("subscript"),
      .assignment = s("assignment"),
      .for_statement = s("for_statement"),
      .for_in_clause = s("for_in_clause"),
      .pattern_list = s("pattern_list"),
      .tuple_pattern = s("tuple_pattern"),
      .list_pattern = s("list_pattern"),
      .tuple = s("tuple"),
      .list = s("list"),
      .parenthesized_expression = s("parenthesized_expression"),
      .list_splat_pattern = s("list_splat_pattern"),
      .slice = s("slice"),
      .integer = s("integer"),
      .unary_operator = s("unary_operator"),
      .type = s("type"),
      .class_definition = s("class_definition"),
      .function_definition = s("function_definition"),
      .identifier = s("identifier"),
      .attribute = s("attribute"),
      .call = s("call"),
      .if_statement = s("if_statement"),
      .elif_clause = s("elif_clause"),
      .while_statement = s("while_statement"),
      .conditional_expression = s("conditional_expression"),
      .boolean_operator = s("boolean_operator"),
      .comparison_operator = s("comparison_operator"),
      .assert_statement = s("assert_statement"),
      .return_statement = s("return_statement"),
      .raise_statement = s("raise_statement"),
      .continue_statement = s("continue_statement"),
      .break_statement = s("break_statement"),
      .list_comprehension = s("list_comprehension"),
      .set_comprehension = s("set_comprehension"),
      .dictionary_comprehension = s("dictionary_comprehension"),
      .generator_expression = s("generator_expression"),
      .aliased_import = s("aliased_import"),
      .import_statement = s("import_statement"),
      .import_from_statement = s("import_from_statement"),
      .with_item = s("with_item"),
      .as_pattern = s("as_pattern"),
      .left = f("left"),
      .right = f("right"),
      .value = f("value"),
      .subscript_field = f("subscript"),
      .superclasses = f("superclasses"),
      .condition = f("condition"),
      .consequence = f("consequence"),
      .alternative = f("alternative"),
      .body = f("body"),
      .name = f("name"),
      .alias = f("alias"),
      .function = f("function"),
      .object = f("object"),
      .attribute_field = f("attribute"),
      .parameters_field = f("parameters"),
  };
}

}  // namespace

const PreciseKinds& precise_kinds() {
  static const PreciseKinds kinds = look_up_kinds();
  return kinds;
}

}  // namespace keyhound
