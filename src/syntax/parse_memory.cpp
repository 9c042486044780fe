#include "syntax/parse_memory.hpp"

#include <tree_sitter/api.h>

#include <atomic>
#include <cstdlib>
#include <mutex>

namespace keyhound {
namespace {

std::atomic<OutOfMemoryHandler> g_handler{nullptr};

[[noreturn]] void out_of_memory(std::size_t bytes) {
  if (OutOfMemoryHandler handler = g_handler.load()) handler(bytes);
  std::abort();
}

void* checked_malloc(std::size_t size) {
  void* block = std::malloc(size);
  if (block == nullptr && size != 0) out_of_memory(size);
  return block;
}

void* checked_calloc(std::size_t count, std::size_t size) {
  void* block = std::calloc(count, size);
  if (block == nullptr && count != 0 && size != 0) out_of_memory(count * size);
  return block;
}

void* checked_realloc(void* old_block, std::size_t size) {
  void* block = std::realloc(old_block, size);
  if (block == nullptr && size != 0) out_of_memory(size);
  return block;
}

}  // namespace

void set_out_of_memory_handler(OutOfMemoryHandler handler) { g_handler.store(handler); }

void install_tree_sitter_allocator() {
  static std::once_flag installed;
  std::call_once(installed,
                 [] { ts_set_allocator(checked_malloc, checked_calloc, checked_realloc, std::free); });
}

}  // namespace keyhound
