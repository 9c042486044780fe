#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace keyhound {

// One function of the file as the propagation sees it.
struct CallGraphNode {
  // Its subtree holds a subscript no guard encloses.
  bool has_unguarded_access = false;
  // Indices of the functions it calls by bare name outside any guard
  // (repeats allowed).
  std::vector<std::size_t> unguarded_callees;
};

// Which functions may let a KeyError escape: exactly those that hold an
// unguarded access, or reach one through a chain of unguarded calls. This is
// the fixed point that repeated sweeps reach, computed with a worklist over
// the reversed call graph in time linear in the graph's size.
std::vector<bool> propagate_keyerror(std::span<const CallGraphNode> graph);

inline constexpr std::size_t kNoSource = static_cast<std::size_t>(-1);

// The same fixed point, and for each function that may raise, one function
// holding an unguarded access that its KeyError comes from (itself, when it
// holds one); kNoSource for the others.
std::vector<std::size_t> keyerror_sources(std::span<const CallGraphNode> graph);

// An unguarded call from one function to another, by their indices.
struct CallEdge {
  std::size_t caller;
  std::size_t callee;
};

// The same, for a graph given as whether each function holds an unguarded
// access and one list of all its calls: a file of thousands of functions
// needs no list of its own for each.
std::vector<std::size_t> keyerror_sources(const std::vector<char>& has_unguarded_access,
                                          std::span<const CallEdge> calls);

}  // namespace keyhound
