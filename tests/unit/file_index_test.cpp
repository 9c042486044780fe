#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "syntax/file_index.hpp"
#include "syntax/function_collection.hpp"
#include "syntax/keyerror_guard.hpp"
#include "test_support.hpp"

namespace keyhound {
namespace {

using testing::ParsedSource;

// The one-walk index must give, for every definition and for the root,
// exactly what the per-node queries give when started there.
void expect_index_matches_queries(const std::string& source) {
  ParsedSource parsed(source);
  FileIndex index = index_file(parsed.root(), parsed.text());

  struct Start {
    TSNode node;
    std::size_t accesses_begin, accesses_end, calls_begin, calls_end;
  };
  std::vector<Start> starts{{parsed.root(), 0, index.accesses.size(), 0, index.calls.size()}};
  for (const DefinitionSpan& span : index.definitions) {
    starts.push_back({span.node, span.accesses_begin, span.accesses_end, span.calls_begin,
                      span.calls_end});
  }
  for (const Start& start : starts) {
    std::vector<TSNode> accesses;
    find_unguarded_dict_accesses(start.node, accesses, parsed.text());
    ASSERT_EQ(accesses.size(), start.accesses_end - start.accesses_begin) << source;
    for (std::size_t i = 0; i < accesses.size(); ++i) {
      EXPECT_TRUE(ts_node_eq(accesses[i], index.accesses[start.accesses_begin + i]));
    }
    std::vector<FunctionCall> calls;
    collect_function_calls(start.node, calls, parsed.text());
    ASSERT_EQ(calls.size(), start.calls_end - start.calls_begin) << source;
    for (std::size_t i = 0; i < calls.size(); ++i) {
      const IndexedCall& indexed = index.calls[start.calls_begin + i];
      EXPECT_EQ(calls[i].name, indexed.name);
      EXPECT_TRUE(ts_node_eq(calls[i].node, indexed.node));
      EXPECT_EQ(calls[i].guarded, indexed.guarded);
    }
  }

  FunctionTable table;
  collect_functions(parsed.root(), table, parsed.text());
  for (const auto& [name, entry] : table) {
    // The last definition of a name in walk order is the table's.
    const DefinitionSpan* last = nullptr;
    for (const DefinitionSpan& span : index.definitions) {
      if (span.name == name) last = &span;
    }
    ASSERT_NE(last, nullptr);
    EXPECT_TRUE(ts_node_eq(last->node, entry.node)) << name;
  }
}

TEST(FileIndexTest, SlicesEqualTheQueriesFromEachDefinition) {
  expect_index_matches_queries(
      "def outer(d):\n"
      "    try:\n"
      "        def inner(e):\n"
      "            return e[1] + helper(e)\n"
      "    except ValueError:\n"
      "        def inner(e):\n"
      "            return d[e[2]]\n"
      "    return inner(d)[0]\n"
      "class C:\n"
      "    def m(self):\n"
      "        try:\n"
      "            return self.x[0](y[1])\n"
      "        except KeyError:\n"
      "            return z[2]\n"
      "    async def n(self):\n"
      "        def deep():\n"
      "            def deeper(): return q[0]\n"
      "            return deeper()\n"
      "        return deep()\n"
      "x = outer({})[1]\n");
}

TEST(FileIndexTest, SlicesEqualTheQueriesOnBrokenSource) {
  expect_index_matches_queries("def f(:\n  d[k]\n  def g()\n    e[k](h())\ntry:\n  def i(): j[0]\n");
}

}  // namespace
}  // namespace keyhound
