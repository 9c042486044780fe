#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "syntax/file_index.hpp"
#include "test_support.hpp"

namespace keyhound {
namespace {

using testing::ParsedSource;

// What the index holds for a source, written out by hand: each
// definition's unguarded lookups and calls, as source text, in walk order;
// the root's are every lookup and call of the file.
struct IndexCase {
  const char* name;
  const char* source;
  std::vector<std::string> all_accesses;
  std::vector<std::string> all_calls;
  // Per definition, in walk order: name, its accesses, its calls.
  std::vector<std::tuple<std::string, std::vector<std::string>, std::vector<std::string>>>
      definitions;
};

std::vector<std::string> texts(const ParsedSource& parsed, const std::vector<TSNode>& nodes,
                               std::size_t begin, std::size_t end) {
  std::vector<std::string> out;
  for (std::size_t i = begin; i < end; ++i) out.emplace_back(parsed.text_of(nodes[i]));
  return out;
}

std::vector<std::string> call_names(const FileIndex& index, std::size_t begin, std::size_t end) {
  std::vector<std::string> out;
  for (std::size_t i = begin; i < end; ++i) {
    if (!index.calls[i].guarded) out.emplace_back(index.calls[i].name);
  }
  return out;
}

class FileIndexTest : public ::testing::TestWithParam<IndexCase> {};

TEST_P(FileIndexTest, HoldsEachDefinitionsLookupsAndCalls) {
  const IndexCase& c = GetParam();
  ParsedSource parsed(c.source);
  FileIndex index = index_file(parsed.root(), parsed.text());
  EXPECT_EQ(texts(parsed, index.accesses, 0, index.accesses.size()), c.all_accesses);
  EXPECT_EQ(call_names(index, 0, index.calls.size()), c.all_calls);
  ASSERT_EQ(index.definitions.size(), c.definitions.size());
  for (std::size_t d = 0; d < c.definitions.size(); ++d) {
    const DefinitionSpan& span = index.definitions[d];
    const auto& [name, accesses, calls] = c.definitions[d];
    EXPECT_EQ(span.name, name);
    EXPECT_EQ(texts(parsed, index.accesses, span.accesses_begin, span.accesses_end), accesses)
        << name;
    EXPECT_EQ(call_names(index, span.calls_begin, span.calls_end), calls) << name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sources, FileIndexTest,
    ::testing::Values(
        IndexCase{"guards_and_module_level",
                  "def f(d):\n"
                  "    return d['a'] + g(d)\n"
                  "def g(d):\n"
                  "    try:\n"
                  "        return d['b']\n"
                  "    except KeyError:\n"
                  "        return h(d['c'])\n"  // a handler is inside the try too
                  "    return d['e'] + k()\n"
                  "x = f({})['z']\n",
                  {"d['a']", "d['e']", "f({})['z']"},
                  {"g", "k", "f"},
                  {{"f", {"d['a']"}, {"g"}}, {"g", {"d['e']"}, {"k"}}}},
        IndexCase{"nested_definitions_own_their_slices",
                  "def outer(d):\n"
                  "    def inner(e):\n"
                  "        return e['k']\n"
                  "    return inner(d)['v']\n",
                  {"e['k']", "inner(d)['v']"},
                  {"inner"},
                  {{"outer", {"e['k']", "inner(d)['v']"}, {"inner"}}, {"inner", {"e['k']"}, {}}}}),
    [](const ::testing::TestParamInfo<IndexCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace keyhound
