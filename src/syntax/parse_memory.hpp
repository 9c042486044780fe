#pragma once

#include <cstddef>
#include <optional>

#include "syntax/tree_sitter_handles.hpp"

namespace keyhound {

// What happens when tree-sitter cannot get memory. The runtime is C and
// cannot unwind, so the handler must not return: the front end that
// installs it says how the process ends. Without one, the process aborts.
using OutOfMemoryHandler = void (*)(std::size_t bytes);
void set_out_of_memory_handler(OutOfMemoryHandler handler);

// Routes every allocation of the tree-sitter runtime through keyhound's own
// functions, which hand a failure to the handler above instead of the
// runtime's message without a line end and abort(). Idempotent.
void install_tree_sitter_allocator();

// While one lives, tree-sitter allocates from this thread's arena, which is
// reset when the last one ends: everything parsed inside must be gone by then.
// With a budget, the arena counts what the parse takes; once that passes the
// budget, `cancelled()` turns true and `cancellation_flag()` (given to the
// parser) stops the parse at its next check, so that one file's parse can
// never take the memory the rest of the run needs.
class ParseArenaScope {
 public:
  ParseArenaScope();
  explicit ParseArenaScope(std::optional<std::size_t> budget);
  ~ParseArenaScope();

  const std::size_t* cancellation_flag() const;
  bool cancelled() const;
  // Ends a tree parsed inside this scope without freeing it node by node:
  // its every byte is the arena's, which the end of the scope frees at once.
  void abandon(Tree&& tree) const;
  ParseArenaScope(const ParseArenaScope&) = delete;
  ParseArenaScope& operator=(const ParseArenaScope&) = delete;
};

}  // namespace keyhound
