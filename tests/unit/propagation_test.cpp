#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "analysis/propagation.hpp"

namespace keyhound {
namespace {

// The plain reading of the rule: sweep the functions in list order, each
// taking KeyError from its own accesses or from any callee that already has
// it, until a sweep changes nothing.
std::vector<bool> sweep_to_fixed_point(const std::vector<CallGraphNode>& graph) {
  std::vector<bool> raises(graph.size(), false);
  for (bool changed = true; changed;) {
    changed = false;
    for (std::size_t i = 0; i < graph.size(); ++i) {
      bool gains = graph[i].has_unguarded_access;
      for (std::size_t callee : graph[i].unguarded_callees) gains = gains || raises[callee];
      if (gains && !raises[i]) {
        raises[i] = true;
        changed = true;
      }
    }
  }
  return raises;
}

TEST(PropagationTest, MatchesPlainSweepsOnRandomCallGraphs) {
  std::mt19937 random(20261208);
  for (int round = 0; round < 2000; ++round) {
    std::size_t size = 1 + random() % 40;
    double access_share = (random() % 100) / 400.0;
    std::size_t max_calls = random() % 5;
    std::vector<CallGraphNode> graph(size);
    for (CallGraphNode& node : graph) {
      node.has_unguarded_access = (random() % 1000) / 1000.0 < access_share;
      std::size_t calls = max_calls == 0 ? 0 : random() % (max_calls + 1);
      for (std::size_t k = 0; k < calls; ++k) node.unguarded_callees.push_back(random() % size);
    }
    ASSERT_EQ(propagate_keyerror(graph), sweep_to_fixed_point(graph)) << "round " << round;
  }
}

TEST(PropagationTest, ChainsCyclesAndUnreachedFunctions) {
  // 0 -> 1 -> 2 (access); 3 <-> 4 with no access; 5 calls itself and 2.
  std::vector<CallGraphNode> graph(6);
  graph[0].unguarded_callees = {1};
  graph[1].unguarded_callees = {2};
  graph[2].has_unguarded_access = true;
  graph[3].unguarded_callees = {4};
  graph[4].unguarded_callees = {3};
  graph[5].unguarded_callees = {5, 2};
  EXPECT_EQ(propagate_keyerror(graph),
            (std::vector<bool>{true, true, true, false, false, true}));
}

TEST(PropagationTest, LongChainDefinedInTheWorstOrderForSweeps) {
  // Entry i calls i + 1 and only the last holds an access: each sweep in
  // list order would move the name back by one step only.
  constexpr std::size_t kLength = 100000;
  std::vector<CallGraphNode> graph(kLength);
  graph[kLength - 1].has_unguarded_access = true;
  for (std::size_t i = 0; i + 1 < kLength; ++i) graph[i].unguarded_callees = {i + 1};
  std::vector<bool> raises = propagate_keyerror(graph);
  EXPECT_EQ(std::count(raises.begin(), raises.end(), true), static_cast<long>(kLength));
}

}  // namespace
}  // namespace keyhound
