// The flow graphs, statement form by statement form: each case marks the
// lookups the graph must prove (`# known`) and those it must not
// (`# open`); what the graph proves is what holds on every path, so each
// mark checks the edges of its statement.
#include <gtest/gtest.h>

#include <map>
#include <unordered_set>
#include <string>
#include <vector>

#include "base/id_map.hpp"
#include "rules/flow_builder.hpp"
#include "rules/flow_graph.hpp"
#include "rules/precise_rules.hpp"
#include "syntax/file_index.hpp"
#include "test_support.hpp"

namespace keyhound {
namespace {

class OutlineObserver final : public WalkObserver {
 public:
  explicit OutlineObserver(SyntaxOutline& outline) : outline_(outline) {}
  void enter(TSNode node, TSSymbol kind, TSFieldId field, uint32_t depth) override {
    outline_.enter(node, kind, field, depth);
  }
  void leave(uint32_t depth) override { outline_.leave(depth); }

 private:
  SyntaxOutline& outline_;
};

// The scopes built, by where their definitions start, in the order built
// (the module's own, if built, as -1).
std::vector<long> scopes_built(const testing::ParsedSource& source) {
  const PreciseKinds& kinds = precise_kinds();
  SyntaxOutline outline(kinds);
  OutlineObserver observer(outline);
  index_file(source.root(), source.text(), &observer);
  outline.finish();
  ModuleConstants constants;
  IdSet exempt;
  std::vector<long> built;
  build_flow_graphs({outline, source.text(), kinds, constants, exempt}, [&](ScopeBuild& scope) {
    built.push_back(scope.definition == OutlineNode::kNone
                        ? -1
                        : static_cast<long>(ts_node_start_byte(outline[scope.definition].node)));
  });
  return built;
}

// For each row holding a lookup: whether the graphs prove every lookup on it.
std::map<uint32_t, bool> proven_rows(const testing::ParsedSource& source) {
  const PreciseKinds& kinds = precise_kinds();
  SyntaxOutline outline(kinds);
  OutlineObserver observer(outline);
  index_file(source.root(), source.text(), &observer);
  std::map<const void*, uint32_t> row_of;
  for (TSNode subscript : source.all("subscript")) {
    row_of[subscript.id] = ts_node_start_point(subscript).row;
  }
  outline.finish();
  ModuleConstants constants;
  IdSet exempt;
  std::map<uint32_t, bool> rows;
  build_flow_graphs({outline, source.text(), kinds, constants, exempt}, [&](ScopeBuild& scope) {
    const FlowGraph& graph = scope.graph;
    std::vector<FactId> answers = solve_flow(graph).proof;
    for (std::size_t i = 0; i < answers.size(); ++i) {
      uint32_t row = row_of.at(graph.queries[i].subscript);
      bool known = answers[i] != FactTable::kNone;
      auto [found, added] = rows.try_emplace(row, known);
      if (!added) found->second = found->second && known;
    }
  });
  return rows;
}

struct FlowCase {
  const char* form;
  const char* source;
};

const FlowCase kCases[] = {
    {"if elif else",
     "def f(d, k, a):\n"
     "    if a:\n"
     "        d[k] = 1\n"
     "    elif k in d:\n"
     "        pass\n"
     "    else:\n"
     "        return\n"
     "    d[k]  # known\n"},
    {"if without else",
     "def f(d, k, a):\n"
     "    if a:\n"
     "        d[k] = 1\n"
     "    d[k]  # open\n"},
    {"while else, left by break",
     "def f(d, k):\n"
     "    while running():\n"
     "        if k in d:\n"
     "            break\n"
     "    else:\n"
     "        return\n"
     "    d[k]  # known\n"},
    {"while else, the else runs when the test fails",
     "def f(d, k):\n"
     "    while k not in d:\n"
     "        wait()\n"
     "    else:\n"
     "        d[k]  # known\n"
     "    d[k]  # known\n"},
    {"while True ends only by break",
     "def f(d, k):\n"
     "    while True:\n"
     "        d[k] = load()\n"
     "        if ready():\n"
     "            break\n"
     "    d[k]  # known\n"},
    {"continue goes round again",
     "def f(d, k, rows):\n"
     "    for row in rows:\n"
     "        if k not in d:\n"
     "            continue\n"
     "        d[k]  # known\n"},
    {"a loop body may not run",
     "def f(d, k, rows):\n"
     "    for row in rows:\n"
     "        d[k] = row\n"
     "    d[k]  # open\n"},
    {"a deletion comes round again",
     "def f(d, k, rows):\n"
     "    d[k] = 1\n"
     "    for row in rows:\n"
     "        d[k]  # open\n"
     "        del d[k]\n"},
    {"for else",
     "def f(d, k, rows):\n"
     "    for row in rows:\n"
     "        if row:\n"
     "            break\n"
     "    else:\n"
     "        d[k] = 1\n"
     "        return d[k]  # known\n"
     "    d[k]  # open\n"},
    {"try except else",
     "def f(d, k):\n"
     "    try:\n"
     "        d.pop(k)\n"
     "        d[k] = 1\n"
     "    except ValueError:\n"
     "        d[k]  # open\n"
     "    else:\n"
     "        d[k]  # known\n"},
    {"a handler knows what held before the body",
     "def f(d, k):\n"
     "    d[k] = 1\n"
     "    try:\n"
     "        work()\n"
     "    except ValueError:\n"
     "        d[k]  # known\n"},
    {"finally on the normal way out",
     "def f(d, k):\n"
     "    try:\n"
     "        d[k] = 1\n"
     "    finally:\n"
     "        d[k]  # open\n"
     "    d[k]  # known\n"},
    {"break through finally",
     "def f(d, k, rows):\n"
     "    for row in rows:\n"
     "        try:\n"
     "            if k not in d:\n"
     "                break\n"
     "        finally:\n"
     "            cleanup()\n"
     "    d[k]  # open\n"},
    {"break inside finally",
     "def f(d, k, rows):\n"
     "    for row in rows:\n"
     "        try:\n"
     "            d[k] = 1\n"
     "        finally:\n"
     "            break\n"
     "    d[k]  # open\n"},
    {"return through finally",
     "def f(d, k):\n"
     "    try:\n"
     "        if k not in d:\n"
     "            return\n"
     "    finally:\n"
     "        d[k]  # open\n"
     "    d[k]  # known\n"},
    {"with suppress ends its body early",
     "def f(d, k):\n"
     "    with suppress(KeyError):\n"
     "        d[k]\n"
     "        d[k] = 1\n"
     "    d[k]  # open\n"},
    {"with runs its body",
     "def f(d, k):\n"
     "    with lock:\n"
     "        d[k] = 1\n"
     "    d[k]  # known\n"},
    {"match without a catch-all",
     "def f(d, k, c):\n"
     "    match c:\n"
     "        case 1:\n"
     "            d[k] = 1\n"
     "    d[k]  # open\n"},
    {"match with a capture",
     "def f(d, k, c):\n"
     "    match c:\n"
     "        case 1:\n"
     "            d[k] = 1\n"
     "        case other:\n"
     "            d[k] = 2\n"
     "    d[k]  # known\n"},
    {"a guarded capture is no catch-all",
     "def f(d, k, c):\n"
     "    match c:\n"
     "        case other if other:\n"
     "            d[k] = 2\n"
     "    d[k]  # open\n"},
    {"a capture rebinds its name",
     "def f(d, k, c):\n"
     "    if k in d:\n"
     "        match c:\n"
     "            case k:\n"
     "                d[k]  # open\n"},
    {"assert",
     "def f(d, k):\n"
     "    assert k in d\n"
     "    d[k]  # known\n"},
    {"and, or, not",
     "def f(d, k, a):\n"
     "    if not (k not in d or a):\n"
     "        d[k]  # known\n"
     "    if k in d or a:\n"
     "        d[k]  # open\n"
     "    x = k in d and d[k]  # known\n"
     "    y = k not in d or d[k]  # known\n"},
    {"conditional expression",
     "def f(d, k):\n"
     "    return d[k] if k in d else None  # known\n"},
    {"walrus",
     "def f(d):\n"
     "    if (k := pick()) in d:\n"
     "        d[k]  # known\n"},
    {"comprehension",
     "def f(d, keys):\n"
     "    return [d[k] for k in keys if k in d]  # known\n"},
    {"a nested def does not run where it is defined",
     "def f(d, k):\n"
     "    if k in d:\n"
     "        def g():\n"
     "            return d[k]  # open\n"
     "        return g\n"},
    {"a class body runs where it is written",
     "def f(d, k):\n"
     "    d[k] = 1\n"
     "    class C:\n"
     "        x = d[k]  # known\n"},
    {"finally within finally",
     "def f(d, k):\n"
     "    try:\n"
     "        d[k] = 1\n"
     "    finally:\n"
     "        try:\n"
     "            pass\n"
     "        finally:\n"
     "            d[k]  # open\n"
     "    d[k]  # known\n"},
    {"code after return is reached by no path",
     "def f(d, k):\n"
     "    return 1\n"
     "    d[k]  # open\n"},
};

class FlowGraphTest : public ::testing::TestWithParam<FlowCase> {};

TEST_P(FlowGraphTest, ProvesWhatHoldsOnEveryPath) {
  testing::ParsedSource source(GetParam().source);
  std::map<uint32_t, bool> rows = proven_rows(source);
  std::vector<std::string> lines;
  std::string text = GetParam().source;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  int marks = 0;
  for (uint32_t row = 0; row < lines.size(); ++row) {
    bool known = lines[row].ends_with("# known");
    bool open = lines[row].ends_with("# open");
    if (!known && !open) continue;
    ++marks;
    ASSERT_TRUE(rows.contains(row)) << "no lookup asked on line " << row + 1;
    EXPECT_EQ(rows[row], known) << "line " << row + 1 << ": " << lines[row];
  }
  EXPECT_GT(marks, 0);
}

INSTANTIATE_TEST_SUITE_P(StatementForms, FlowGraphTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) {
                           return testing::case_name(info.index, info.param.form);
                         });

// Each `finally` inside a `finally` would double the code built: past a
// few levels they share one copy, and 40 levels take no longer than their
// size.
TEST(FlowGraphDepthTest, FinallysNestedInFinallysStayLinear) {
  std::string text = "def f(d, k):\n";
  std::string indent = "    ";
  for (int level = 0; level < 40; ++level) {
    text += indent + "try:\n" + indent + "    d[k] = 1\n" + indent + "finally:\n";
    indent += "    ";
  }
  text += indent + "d[k]\n";
  testing::ParsedSource source(text);
  std::map<uint32_t, bool> rows = proven_rows(source);
  EXPECT_EQ(rows.size(), 1u);
  EXPECT_FALSE(rows.begin()->second);
}

// 12,000 lookups joined by `and` make as many blocks, each knowing the keys
// before it: the fixed point gives up past its budget, and then proves
// nothing, rather than take time that grows with the square of the chain.
TEST(FlowGraphDepthTest, AHostileScopeGivesUpAndProvesNothing) {
  std::string text = "def f(d):\n    x = d[k0]";
  for (int i = 1; i < 12000; ++i) text += " and d[k" + std::to_string(i) + "]";
  text += "\n    return d[k0]\n";
  testing::ParsedSource source(text);
  std::map<uint32_t, bool> rows = proven_rows(source);
  ASSERT_TRUE(rows.contains(2));
  EXPECT_FALSE(rows[2]);
  // The same function, short: the key read on the first line is known.
  testing::ParsedSource short_source("def f(d):\n    x = d[k0] and d[k1]\n    return d[k0]\n");
  EXPECT_TRUE(proven_rows(short_source)[2]);
}

// A module whose own code asks nothing builds no graph of its own, only its
// functions': the same ones, in the same order, as when a lookup of its
// own makes it build one.
TEST(FlowGraphScopesTest, AModuleThatAsksNothingBuildsTheSameFunctions) {
  const std::string text =
      "import functools\n"
      "@functools.lru_cache(key=lambda d: d['a'])\n"
      "def decorated(d):\n"
      "    return d['b']\n"
      "def defaults(d, pick=lambda e: e['c']):\n"
      "    def inner(k):\n"
      "        return d[k]\n"
      "    return inner\n"
      "class Holder:\n"
      "    def method(self, d):\n"
      "        return d['e']\n"
      "    also = staticmethod(lambda d: d['f'])\n"
      "if True:\n"
      "    def branch(d):\n"
      "        return d['g']\n"
      "try:\n"
      "    def tried(d):\n"
      "        return d['h']\n"
      "finally:\n"
      "    def finally_(d):\n"
      "        return d['i']\n"
      "def quiet():\n"
      "    return 1\n";
  const std::vector<long> alone = scopes_built(testing::ParsedSource(text));
  std::vector<long> asking = scopes_built(testing::ParsedSource(text + "LIMITS['x']\n"));
  ASSERT_FALSE(asking.empty());
  EXPECT_EQ(asking.front(), -1);
  asking.erase(asking.begin());
  EXPECT_EQ(alone, asking);
  EXPECT_EQ(alone.size(), 10u);
}

TEST(FactTableTest, AKillUndoesWhatMentionsTheNameOutsideStrings) {
  FactTable facts;
  FactId by_name = facts.intern("d", "host", FactOrigin::Known);
  FactId by_string = facts.intern("cfg", "\"host\"", FactOrigin::Known);
  FactId by_attribute = facts.intern("self.cache", "k", FactOrigin::Known);
  FactId nested = facts.intern("d[\"a\"]", "b", FactOrigin::Known);
  // A quote inside a triple-quoted string does not end it: `a` after it is
  // still a name the fact mentions.
  FactId after_triple = facts.intern("e", "f(\"\"\"x\"y\"\"\",a)", FactOrigin::Known);
  uint32_t a = facts.kill("a", false);
  uint32_t host = facts.kill("host", false);
  uint32_t self = facts.kill("self", false);
  uint32_t cache = facts.kill("cache", false);
  uint32_t popped = facts.kill("d", true);
  facts.resolve_kills();
  EXPECT_EQ(facts.killed_by(host), std::vector<FactId>{by_name});
  EXPECT_EQ(facts.killed_by(self), std::vector<FactId>{by_attribute});
  EXPECT_TRUE(facts.killed_by(cache).empty());
  EXPECT_EQ(facts.killed_by(popped), (std::vector<FactId>{by_name, nested}));
  EXPECT_EQ(facts.killed_by(a), std::vector<FactId>{after_triple});
  (void)by_string;
}

}  // namespace
}  // namespace keyhound
