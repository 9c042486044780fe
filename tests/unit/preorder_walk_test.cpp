#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "syntax/preorder_walk.hpp"
#include "test_support.hpp"

namespace keyhound {
namespace {

using testing::ParsedSource;

// One step of a walk: a node entered (with its depth and field), or the
// node at a depth left.
struct Step {
  bool enter;
  uint32_t depth;
  uint32_t start = 0;
  uint32_t end = 0;
  std::string kind;
  std::string field;
  bool operator==(const Step&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Step& step) {
  return out << (step.enter ? "enter " : "leave ") << step.depth << ' ' << step.kind << ' '
             << step.field << " [" << step.start << ',' << step.end << ')';
}

Step left(uint32_t depth) { return {false, depth, 0, 0, "", ""}; }

std::string field_name(const TSLanguage* language, TSFieldId field) {
  const char* name = field == 0 ? nullptr : ts_language_field_name_for_id(language, field);
  return name == nullptr ? "" : name;
}

std::vector<Step> cursor_walk(TSNode start) {
  const TSLanguage* language = ts_tree_language(start.tree);
  std::vector<Step> steps;
  walk_preorder_with_cursor(
      start,
      [&](TSNode node, uint32_t depth, const TreeCursor& cursor) {
        steps.push_back({true, depth, ts_node_start_byte(node), ts_node_end_byte(node),
                         ts_node_type(node), field_name(language, cursor.field_id())});
      },
      [&](uint32_t depth) { steps.push_back(left(depth)); });
  return steps;
}

// The same walk through the node API alone (child by index), which shares
// nothing with the cursor's stepping.
std::vector<Step> node_walk(TSNode start) {
  std::vector<Step> steps;
  struct Open {
    TSNode node;
    uint32_t depth;
    uint32_t next_child;
    std::string field;
  };
  std::vector<Open> open{{start, 0, 0, ""}};
  while (!open.empty()) {
    Open& top = open.back();
    if (top.next_child == 0) {
      steps.push_back({true, top.depth, ts_node_start_byte(top.node), ts_node_end_byte(top.node),
                       ts_node_type(top.node), top.field});
    }
    if (top.next_child < ts_node_child_count(top.node)) {
      const uint32_t child = top.next_child++;
      const char* field = ts_node_field_name_for_child(top.node, child);
      open.push_back({ts_node_child(top.node, child), top.depth + 1, 0, field ? field : ""});
      continue;
    }
    steps.push_back(left(top.depth));
    open.pop_back();
  }
  return steps;
}

struct WalkCase {
  const char* name;
  const char* source;
  // The kind of the node the walk starts on (the root when empty).
  const char* start_kind = "";
};

class PreorderWalkTest : public ::testing::TestWithParam<WalkCase> {};

TEST_P(PreorderWalkTest, VisitsEveryNodeOnceAsTheNodeApiSeesIt) {
  const ParsedSource parsed(GetParam().source);
  const std::string kind = GetParam().start_kind;
  const TSNode start = kind.empty() ? parsed.root() : parsed.first(kind);
  const std::vector<Step> steps = cursor_walk(start);
  EXPECT_EQ(steps, node_walk(start));
  // Every node beneath the start entered once, and left once.
  std::size_t entered = 0;
  for (const Step& step : steps) entered += step.enter ? 1 : 0;
  EXPECT_EQ(entered, ts_node_descendant_count(start));
  EXPECT_EQ(steps.size(), 2 * entered);
}

const WalkCase kWalkCases[] = {
    {"empty", ""},
    {"one_name", "x\n"},
    {"comments_as_extras",
     "@decorator  # before the def\n# between\ndef f(a,  # in the parameters\n      b):\n"
     "    return a[b]  # after\n    # closing the block\n# at the end"},
    {"last_children_in_hidden_nodes",
     "if a:\n    if b:\n        if c:\n            x = d[k]\n"
     "elif e:\n    pass\nelse:\n    y = [i for i in z if i]\n"},
    {"strings_and_interpolation", "s = 'a' 'b' f\"{d['k']!r:>{w}}\" \"\"\"\nrows\n\"\"\"\n"},
    {"syntax_errors", "def f(:\n    return d[\nclass\n    x = (1,\n"},
    {"patterns_and_aliases",
     "match p:\n    case {'k': v, **rest} if v:\n        print(v)\n    case [1, *_]:\n"
     "        pass\n"},
    {"subtree_start_stops_at_its_end",
     "def f(d):\n    return d['k']\n\ndef g(d):\n    return d['j']\n", "function_definition"},
    {"leaf_start", "x = 1\n", "integer"},
    {"deep_nesting", "x = ((((((((((((((((((((d[k]))))))))))))))))))))\n"},
};

INSTANTIATE_TEST_SUITE_P(Sources, PreorderWalkTest, ::testing::ValuesIn(kWalkCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace keyhound
