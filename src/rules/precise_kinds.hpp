#pragma once

#include <tree_sitter/api.h>

namespace keyhound {

// The node kinds and fields the precise rules look at, looked up once; a
// kind or field the grammar does not know is an internal fault at the first
// use, never a silent zero that would turn a rule off.
struct PreciseKinds {
  TSSymbol subscript, assignment, for_statement, for_in_clause, pattern_list, tuple_pattern,
      list_pattern, tuple, list, parenthesized_expression, list_splat_pattern, slice, integer,
      unary_operator, type, class_definition, function_definition, identifier, attribute, call,
      if_statement, elif_clause, while_statement, conditional_expression, boolean_operator,
      comparison_operator, assert_statement, return_statement, raise_statement,
      continue_statement, break_statement, list_comprehension, set_comprehension,
      dictionary_comprehension, generator_expression, aliased_import, import_statement,
      import_from_statement, with_item, as_pattern, generic_type, string, string_content,
      concatenated_string, binary_operator, global_statement, nonlocal_statement,
      named_expression, delete_statement, augmented_assignment, block, module, lambda,
      dictionary, pair, keyword_argument, argument_list, try_statement, except_clause,
      except_group_clause, else_clause, finally_clause, with_statement, with_clause,
      match_statement, case_clause, case_pattern, if_clause, not_operator, dotted_name,
      decorated_definition, true_literal, lambda_parameters, parameters, type_alias_statement,
      dictionary_splat_pattern;

  TSFieldId left, right, value, subscript_field, superclasses, condition, consequence,
      alternative, body, name, alias, function, object, attribute_field, parameters_field,
      type_field, arguments, key, subject, guard, argument;
};

const PreciseKinds& precise_kinds();

}  // namespace keyhound
