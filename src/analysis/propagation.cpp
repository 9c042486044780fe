#include "analysis/propagation.hpp"

namespace keyhound {

std::vector<bool> propagate_keyerror(std::span<const CallGraphNode> graph) {
  std::vector<std::size_t> sources = keyerror_sources(graph);
  std::vector<bool> raises(sources.size());
  for (std::size_t i = 0; i < sources.size(); ++i) raises[i] = sources[i] != kNoSource;
  return raises;
}

std::vector<std::size_t> keyerror_sources(std::span<const CallGraphNode> graph) {
  std::vector<char> has_unguarded_access(graph.size(), 0);
  std::vector<CallEdge> calls;
  for (std::size_t caller = 0; caller < graph.size(); ++caller) {
    has_unguarded_access[caller] = graph[caller].has_unguarded_access ? 1 : 0;
    for (std::size_t callee : graph[caller].unguarded_callees) calls.push_back({caller, callee});
  }
  return keyerror_sources(has_unguarded_access, calls);
}

std::vector<std::size_t> keyerror_sources(const std::vector<char>& has_unguarded_access,
                                          std::span<const CallEdge> calls) {
  const std::size_t count = has_unguarded_access.size();
  // Callers of each function, as a compressed adjacency list.
  std::vector<std::size_t> caller_start(count + 1, 0);
  for (const CallEdge& call : calls) ++caller_start[call.callee + 1];
  for (std::size_t i = 0; i < count; ++i) caller_start[i + 1] += caller_start[i];
  std::vector<std::size_t> callers(caller_start[count]);
  std::vector<std::size_t> fill(caller_start.begin(), caller_start.end() - 1);
  for (const CallEdge& call : calls) callers[fill[call.callee]++] = call.caller;

  std::vector<std::size_t> source(count, kNoSource);
  std::vector<std::size_t> worklist;
  for (std::size_t i = 0; i < count; ++i) {
    if (has_unguarded_access[i]) {
      source[i] = i;
      worklist.push_back(i);
    }
  }
  // The callers of one function all take its source, so the order they are
  // listed in (the order of the calls in the file) changes no source.
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
