#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "syntax/function_collection.hpp"
#include "test_support.hpp"

namespace keyhound {
namespace {

using testing::ParsedSource;

std::vector<std::string> call_names(const std::string& source) {
  ParsedSource parsed(source);
  std::vector<FunctionCall> calls;
  collect_function_calls(parsed.root(), calls, parsed.text());
  std::vector<std::string> names;
  for (const FunctionCall& call : calls) {
    EXPECT_STREQ(ts_node_type(call.node), "call");
    names.push_back(call.name);
  }
  return names;
}

struct CallNameCase {
  const char* source;
  std::vector<std::string> names;
};

class CallNameTest : public ::testing::TestWithParam<CallNameCase> {};

TEST_P(CallNameTest, NamesAreTheCalleeTextInWalkOrder) {
  EXPECT_EQ(call_names(GetParam().source), GetParam().names);
}

INSTANTIATE_TEST_SUITE_P(
    CalleeForms, CallNameTest,
    ::testing::Values(
        CallNameCase{"foo(x)\n", {"foo"}},
        CallNameCase{"obj.method(x)\n", {"obj.method"}},
        CallNameCase{"self.load()\n", {"self.load"}},
        CallNameCase{"a.b.c()\n", {"a.b.c"}},
        CallNameCase{"show(len(x))\n", {"show", "len"}},
        CallNameCase{"a.b().c()\n", {"a.b().c", "a.b"}},
        CallNameCase{"f(x)(y)\n", {"f(x)", "f"}},
        CallNameCase{"super().__init__()\n", {"super().__init__", "super"}},
        CallNameCase{"Foo()\n", {"Foo"}},
        CallNameCase{"obj . method ()\n", {"obj . method"}},
        CallNameCase{"(obj  # why\n .method)()\n", {"(obj  # why\n .method)"}},
        CallNameCase{"x = [d[k] for k in keys]\n", {}},
        CallNameCase{"f = lambda: g()\n", {"g"}}),
    [](const ::testing::TestParamInfo<CallNameCase>& info) {
      return testing::case_name(info.index, info.param.source);
    });

FunctionTable functions_of(const ParsedSource& parsed) {
  FunctionTable table;
  collect_functions(parsed.root(), table, parsed.text());
  return table;
}

std::vector<std::string> sorted_names(const FunctionTable& table) {
  std::vector<std::string> names;
  for (const auto& [name, entry] : table) names.push_back(name);
  std::sort(names.begin(), names.end());
  return names;
}

TEST(CollectFunctionsTest, EntersEveryDefinitionUnderItsBareName) {
  ParsedSource parsed(
      "def outer():\n"
      "    def inner():\n"
      "        class Local:\n"
      "            def method(self): pass\n"
      "async def fetch(): pass\n"
      "@decorator(arg)\n"
      "def decorated(): pass\n"
      "handler = lambda: 0\n");
  FunctionTable table = functions_of(parsed);
  EXPECT_EQ(sorted_names(table),
            (std::vector<std::string>{"decorated", "fetch", "inner", "method", "outer"}));
  for (const auto& [name, entry] : table) {
    EXPECT_STREQ(ts_node_type(entry.node), "function_definition") << name;
    EXPECT_TRUE(entry.may_raise.empty());
    EXPECT_FALSE(entry.accesses_reported);
  }
}

TEST(CollectFunctionsTest, LaterDefinitionReplacesTheEarlierWithAFreshEntry) {
  ParsedSource parsed(
      "class A:\n"
      "    def run(self): return 1\n"
      "class B:\n"
      "    def run(self): return 2\n");
  FunctionTable table;
  collect_functions(parsed.root(), table, parsed.text());
  table.at("run").may_let_escape("KeyError");
  table.at("run").accesses_reported = true;
  // Collecting again replaces the entry whole, so its state starts afresh.
  collect_functions(parsed.root(), table, parsed.text());
  ASSERT_EQ(table.size(), 1u);
  const FunctionEntry& run = table.at("run");
  EXPECT_TRUE(run.may_raise.empty());
  EXPECT_FALSE(run.accesses_reported);
  EXPECT_NE(parsed.text_of(run.node).find("return 2"), std::string_view::npos);
}

TEST(CollectFunctionsTest, FileWithoutDefinitionsLeavesTheTableAsItWas) {
  ParsedSource parsed("x = 1\nprint(x)\n");
  FunctionTable table;
  table.emplace("kept", FunctionEntry{.may_raise = {}, .node = parsed.root(),
                                      .accesses_reported = false});
  collect_functions(parsed.root(), table, parsed.text());
  EXPECT_EQ(sorted_names(table), std::vector<std::string>{"kept"});
}

TEST(CollectFunctionCallsTest, DecoratorCallsLieOutsideTheFunctionNode) {
  ParsedSource parsed(
      "@register(name())\n"
      "def handler(x=default(), y: hint() = 0):\n"
      "    def nested():\n"
      "        deep()\n");
  FunctionTable table = functions_of(parsed);
  std::vector<FunctionCall> calls;
  collect_function_calls(table.at("handler").node, calls, parsed.text());
  std::vector<std::string> names;
  for (const FunctionCall& call : calls) names.push_back(call.name);
  EXPECT_EQ(names, (std::vector<std::string>{"default", "hint", "deep"}));

  calls.clear();
  collect_function_calls(table.at("nested").node, calls, parsed.text());
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].name, "deep");
}

TEST(CollectFunctionCallsTest, AppendsWithoutClearing) {
  ParsedSource parsed("f()\n");
  std::vector<FunctionCall> calls;
  collect_function_calls(parsed.root(), calls, parsed.text());
  collect_function_calls(parsed.root(), calls, parsed.text());
  EXPECT_EQ(calls.size(), 2u);
}

// Deep nesting must not overflow the stack: every walk is iterative.
TEST(DeepNestingTest, HundredThousandNestedCallsAreWalked) {
  constexpr int kDepth = 100000;
  std::string source;
  for (int i = 0; i < kDepth; ++i) source += "f(";
  source += "x";
  source.append(kDepth, ')');
  source += "\n";
  ParsedSource parsed(source);
  std::vector<FunctionCall> calls;
  collect_function_calls(parsed.root(), calls, parsed.text());
  EXPECT_EQ(calls.size(), static_cast<std::size_t>(kDepth));
  FunctionTable table;
  collect_functions(parsed.root(), table, parsed.text());
  EXPECT_TRUE(table.empty());
}

}  // namespace
}  // namespace keyhound
