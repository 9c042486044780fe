#include "analysis/propagation.hpp"

namespace keyhound {

std::vector<bool> propagate_keyerror(std::span<const CallGraphNode> graph) {
  std::vector<std::size_t> sources = keyerror_sources(graph);
  std::vector<bool> raises(sources.size());
  for (std::size_t i = 0; i < sources.size(); ++i) raises[i] = sources[i] != kNoSource;
  return raises;
}

std::vector<std::size_t> keyerror_sources(std::span<const CallGraphNode> graph) {
  const std::size_t count = graph.size();
  // Callers of each function, as a compressed adjacency list.
  std::vector<std::size_t> caller_start(count + 1, 0);
  for (const CallGraphNode& node : graph) {
    for (std::size_t callee : node.unguarded_callees) ++caller_start[callee + 1];
  }
  for (std::size_t i = 0; i < count; ++i) caller_start[i + 1] += caller_start[i];
  std::vector<std::size_t> callers(caller_start[count]);
  std::vector<std::size_t> fill(caller_start.begin(), caller_start.end() - 1);
  for (std::size_t caller = 0; caller < count; ++caller) {
    for (std::size_t callee : graph[caller].unguarded_callees) callers[fill[callee]++] = caller;
  }

  std::vector<std::size_t> source(count, kNoSource);
  std::vector<std::size_t> worklist;
  for (std::size_t i = 0; i < count; ++i) {
    if (graph[i].has_unguarded_access) {
      source[i] = i;
      worklist.push_back(i);
    }
  }
  while (!worklist.empty()) {
    std::size_t callee = worklist.back();
    worklist.pop_back();
    for (std::size_t k = caller_start[callee]; k < caller_start[callee + 1]; ++k) {
      std::size_t caller = callers[k];
      if (source[caller] == kNoSource) {
        source[caller] = source[callee];
        worklist.push_back(caller);
      }
    }
  }
  return source;
}

}  // namespace keyhound
