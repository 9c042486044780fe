#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "syntax/function_collection.hpp"
#include "syntax/keyerror_guard.hpp"
#include "test_support.hpp"

namespace keyhound {
namespace {

using testing::ParsedSource;

std::vector<std::string> unguarded(const ParsedSource& parsed, TSNode start) {
  std::vector<TSNode> accesses;
  find_unguarded_dict_accesses(start, accesses, parsed.text());
  std::vector<std::string> texts;
  for (TSNode node : accesses) {
    EXPECT_STREQ(ts_node_type(node), "subscript");
    texts.emplace_back(parsed.text_of(node));
  }
  return texts;
}

std::vector<std::string> unguarded(const std::string& source) {
  ParsedSource parsed(source);
  return unguarded(parsed, parsed.root());
}

std::string try_with(const std::string& clause) {
  return "try:\n    d[k]\n" + clause + ":\n    pass\n";
}

struct ClauseCase {
  const char* clause;
  bool guards;
};

class ExceptClauseTest : public ::testing::TestWithParam<ClauseCase> {};

TEST_P(ExceptClauseTest, GuardsExactlyWhenTheClauseCatchesKeyError) {
  std::string source = try_with(GetParam().clause);
  std::vector<std::string> expected;
  if (!GetParam().guards) expected.push_back("d[k]");
  EXPECT_EQ(unguarded(source), expected) << source;

  ParsedSource parsed(source);
  EXPECT_EQ(is_within_keyerror_try_except(parsed.first("subscript"), parsed.text()),
            GetParam().guards);
}

INSTANTIATE_TEST_SUITE_P(
    ClauseForms, ExceptClauseTest,
    ::testing::Values(
        ClauseCase{"except", true},
        ClauseCase{"except KeyError", true},
        ClauseCase{"except LookupError", true},
        ClauseCase{"except Exception", true},
        ClauseCase{"except BaseException", true},
        ClauseCase{"except builtins.KeyError", true},
        ClauseCase{"except builtins.LookupError", true},
        ClauseCase{"except builtins.Exception", true},
        ClauseCase{"except builtins.BaseException", true},
        ClauseCase{"except (KeyError)", true},
        ClauseCase{"except ((KeyError))", true},
        ClauseCase{"except (ValueError, KeyError)", true},
        ClauseCase{"except ((TypeError, LookupError), ValueError)", true},
        ClauseCase{"except KeyError as error", true},
        ClauseCase{"except (TypeError, Exception) as error", true},
        ClauseCase{"except ValueError, KeyError", true},
        ClauseCase{"except ValueError", false},
        ClauseCase{"except (TypeError, ValueError)", false},
        ClauseCase{"except (TypeError, ValueError) as error", false},
        // A parenthesised expression that does not parse is one broken
        // expression: none of the names in it counts.
        ClauseCase{"except (, KeyError)", false},
        ClauseCase{"except(,KeyError)", false},
        ClauseCase{"except (builtins KeyError)", false},
        ClauseCase{"except (KeyError builtins)", false},
        ClauseCase{"except (ValueError, TypeError KeyError)", false},
        ClauseCase{"except (KeyError, TypeError ValueError)", false},
        ClauseCase{"except (, KeyError) as error", false},
        ClauseCase{"except MyError", false},
        ClauseCase{"except errors", false},
        ClauseCase{"except mymodule.KeyError", false},
        ClauseCase{"except KeyErrors", false},
        ClauseCase{"except* KeyError", false},
        ClauseCase{"except* Exception", false}),
    [](const ::testing::TestParamInfo<ClauseCase>& info) {
      return testing::case_name(info.index, info.param.clause);
    });

// The grammar shapes the clause test relies on.
TEST(ExceptClauseShapeTest, ExceptionExpressionSitsUnderTheValueField) {
  struct Shape {
    const char* clause;
    const char* value_kind;
  };
  for (Shape shape : {Shape{"except E as e", "as_pattern"},
                      Shape{"except (E)", "parenthesized_expression"},
                      Shape{"except (E, F)", "tuple"},
                      Shape{"except builtins.E", "attribute"},
                      Shape{"except E", "identifier"}}) {
    ParsedSource parsed(try_with(shape.clause));
    TSNode clause = parsed.first("except_clause");
    TSNode value = ts_node_child_by_field_name(clause, "value", 5);
    ASSERT_FALSE(ts_node_is_null(value)) << shape.clause;
    EXPECT_STREQ(ts_node_type(value), shape.value_kind) << shape.clause;
  }
  ParsedSource bare(try_with("except"));
  EXPECT_TRUE(ts_node_is_null(ts_node_child_by_field_name(bare.first("except_clause"), "value", 5)));
}

TEST(GuardTest, EveryPartOfAGuardingTryStatementIsGuarded) {
  EXPECT_EQ(unguarded("try:\n    a[1]\nexcept KeyError:\n    b[2]\nelse:\n    c[3]\n"
                      "finally:\n    e[4]\n"),
            std::vector<std::string>{});
}

TEST(GuardTest, ClimbGoesOnPastTryStatementsThatDoNotCount) {
  EXPECT_EQ(unguarded("try:\n"
                      "    try:\n        a[1]\n    except ValueError:\n        pass\n"
                      "except KeyError:\n    pass\n"),
            std::vector<std::string>{});
  EXPECT_EQ(unguarded("try:\n"
                      "    try:\n        a[1]\n    except KeyError:\n        pass\n"
                      "except ValueError:\n    b[2]\n"),
            std::vector<std::string>{"b[2]"});
  EXPECT_EQ(unguarded("try:\n    a[1]\nfinally:\n    pass\n"), std::vector<std::string>{"a[1]"});
}

TEST(GuardTest, DefinitionsInsideAGuardAreGuardedWholly) {
  ParsedSource parsed(
      "try:\n"
      "    def inner():\n        return d[k]\n"
      "    f = lambda: d[j]\n"
      "    xs = [d[i] for i in keys]\n"
      "except KeyError:\n    pass\n"
      "def outer():\n    return d[m]\n");
  EXPECT_EQ(unguarded(parsed, parsed.root()), std::vector<std::string>{"d[m]"});
  // Walking from the nested definition still sees the guard above it.
  FunctionTable table;
  collect_functions(parsed.root(), table, parsed.text());
  EXPECT_EQ(unguarded(parsed, table.at("inner").node), std::vector<std::string>{});
}

TEST(GuardTest, AccessesAreEveryKindOfSubscriptInWalkOrder) {
  EXPECT_EQ(unguarded("def f():\n"
                      "    items[0]\n    text[1:3]\n    grid[i, j]\n"
                      "    d[k] = v\n    d[n] += 1\n    del d[o]\n"
                      "    d.get(k)\n    d[a][b]\n"
                      "    if k in d:\n        d[k]\n"),
            (std::vector<std::string>{"items[0]", "text[1:3]", "grid[i, j]", "d[k]", "d[n]",
                                      "d[o]", "d[a][b]", "d[a]", "d[k]"}));
}

TEST(GuardTest, RootIsNeverGuardedAndAGuardingTryGuardsItself) {
  ParsedSource parsed(try_with("except KeyError"));
  EXPECT_FALSE(is_within_keyerror_try_except(parsed.root(), parsed.text()));
  EXPECT_TRUE(is_within_keyerror_try_except(parsed.first("try_statement"), parsed.text()));
}

TEST(GuardTest, CallGuardStatusFromTheWalkAgreesWithTheClimb) {
  ParsedSource parsed(
      "def f():\n"
      "    a()\n"
      "    try:\n        b(c())\n    except ValueError:\n        d()\n"
      "    try:\n        e()\n    except (KeyError, ValueError):\n        g()\n"
      "    try:\n        pass\n    except* KeyError:\n        h()\n");
  FunctionTable table;
  collect_functions(parsed.root(), table, parsed.text());
  for (TSNode start : {parsed.root(), table.at("f").node}) {
    std::vector<FunctionCall> calls;
    collect_function_calls(start, calls, parsed.text());
    ASSERT_EQ(calls.size(), 7u);
    for (const FunctionCall& call : calls) {
      EXPECT_EQ(call.guarded, is_within_keyerror_try_except(call.node, parsed.text()))
          << call.name;
      EXPECT_EQ(call.guarded, call.name == "e" || call.name == "g") << call.name;
    }
  }
}

TEST(GuardTest, SyntaxErrorsAreWalkedThrough) {
  EXPECT_EQ(unguarded("def f(:\n    return d[k]\n"), std::vector<std::string>{"d[k]"});
}

// Deep nesting must not overflow the stack, and the walk must not climb
// from every subscript: 100,000 nested subscripts inside a guard.
TEST(DeepNestingTest, HundredThousandNestedSubscripts) {
  constexpr int kDepth = 100000;
  std::string nested;
  for (int i = 0; i < kDepth; ++i) nested += "a[";
  nested += "0";
  nested.append(kDepth, ']');
  ParsedSource open("x = " + nested + "\n");
  std::vector<TSNode> accesses;
  find_unguarded_dict_accesses(open.root(), accesses, open.text());
  EXPECT_EQ(accesses.size(), static_cast<std::size_t>(kDepth));

  ParsedSource guarded("try:\n    x = " + nested + "\nexcept KeyError:\n    pass\n");
  accesses.clear();
  find_unguarded_dict_accesses(guarded.root(), accesses, guarded.text());
  EXPECT_TRUE(accesses.empty());
}

TEST(DeepNestingTest, HundredThousandNestedBrackets) {
  for (auto [open, close] : {std::pair{'(', ')'}, std::pair{'[', ']'}, std::pair{'{', '}'}}) {
    std::string source = "x = ";
    source.append(100000, open);
    source.append(100000, close);
    source += "\n";
    ParsedSource parsed(source);
    std::vector<TSNode> accesses;
    find_unguarded_dict_accesses(parsed.root(), accesses, parsed.text());
    EXPECT_TRUE(accesses.empty()) << open;
  }
}

}  // namespace
}  // namespace keyhound
