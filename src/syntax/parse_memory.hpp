#pragma once

#include <cstddef>

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
class ParseArenaScope {
 public:
  ParseArenaScope();
  ~ParseArenaScope();
  ParseArenaScope(const ParseArenaScope&) = delete;
  ParseArenaScope& operator=(const ParseArenaScope&) = delete;
};

}  // namespace keyhound
