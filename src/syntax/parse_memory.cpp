#include "syntax/parse_memory.hpp"

#include <tree_sitter/api.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <cstring>
#include <vector>
#include <algorithm>
#include <array>
#include <bit>

namespace keyhound {
namespace {

std::atomic<OutOfMemoryHandler> g_handler{nullptr};

[[noreturn]] void out_of_memory(std::size_t bytes) {
  if (OutOfMemoryHandler handler = g_handler.load()) handler(bytes);
  std::abort();
}

// Every block carries its size and where it came from, so that free and
// realloc know what to do with it: `room` is what an arena block can hold
// (its size class), 0 for a block of the system's allocator.
struct Header {
  std::size_t size;
  std::size_t room;
};
constexpr std::size_t kHeader = sizeof(Header);

// A parse allocates and frees millions of small blocks, and the tree is freed
// node by node at the end. Inside a ParseArenaScope they come from this
// thread's chunks instead, bumped one after the other: the whole file's
// memory goes back in one step at the end of the scope. A block freed
// during the parse (a stack node, an array that grew) goes on the free list
// of its size class, and the next block of that class takes it, so that
// the parse's temporaries do not pile up until the file is done.
struct Arena {
  static constexpr std::size_t kChunk = std::size_t{1} << 22;
  // Classes of 16 bytes up to kSmall, then of powers of two.
  static constexpr std::size_t kSmall = 1024;
  static constexpr std::size_t kClasses = kSmall / 16 + 64;

  // The room of the class that holds `need` bytes (header included), and
  // the class's index.
  static std::pair<std::size_t, std::size_t> size_class(std::size_t need) {
    if (need <= kSmall) {
      std::size_t room = (need + 15) & ~std::size_t{15};
      return {room, room / 16 - 1};
    }
    const std::size_t bits = std::bit_width(need - 1);
    return {std::size_t{1} << bits, kSmall / 16 + bits};
  }

  std::array<void*, kClasses> free_blocks{};
  std::vector<std::pair<char*, std::size_t>> chunks;
  std::size_t chunk = 0;
  std::size_t used = 0;
  int depth = 0;
  // The bytes of chunks handed out since the scope began, against the
  // budget; the flag the parser reads.
  std::size_t taken = 0;
  std::size_t budget = SIZE_MAX;
  std::atomic<std::size_t> cancel{0};

  void* take(std::size_t size) {
    auto [need, index] = size_class(size + kHeader);
    if (void* reused = free_blocks[index]) {
      // A free block keeps the next one of its class where its data went.
      free_blocks[index] = *static_cast<void**>(reused);
      auto* header = reinterpret_cast<Header*>(static_cast<char*>(reused) - kHeader);
      header->size = size;
      return reused;
    }
    while (chunk < chunks.size() && used + need > chunks[chunk].second) {
      ++chunk;
      used = 0;
    }
    if (chunk == chunks.size() || used == 0) {
      taken += chunk == chunks.size() ? std::max<std::size_t>(need, kChunk) : chunks[chunk].second;
      if (taken > budget) cancel.store(1);
    }
    if (chunk == chunks.size()) {
      std::size_t bytes = std::max<std::size_t>(need, kChunk);
      char* memory = static_cast<char*>(std::malloc(bytes));
      if (memory == nullptr) out_of_memory(size);
      chunks.emplace_back(memory, bytes);
      used = 0;
    }
    char* at = chunks[chunk].first + used;
    used += need;
    auto* header = reinterpret_cast<Header*>(at);
    header->size = size;
    header->room = need - kHeader;
    return at + kHeader;
  }

  void give_back(void* block, const Header& header) {
    const std::size_t index = size_class(header.room + kHeader).second;
    *static_cast<void**>(block) = free_blocks[index];
    free_blocks[index] = block;
  }
  // Keeps the first chunk for the next file; the memory of a large file
  // goes back to the system, not kept for the life of the thread.
  void reset() {
    for (std::size_t i = 1; i < chunks.size(); ++i) std::free(chunks[i].first);
    if (chunks.size() > 1) chunks.resize(1);
    chunk = 0;
    used = 0;
    taken = 0;
    free_blocks.fill(nullptr);
    budget = SIZE_MAX;
    cancel.store(0);
  }
  ~Arena() {
    for (auto& [memory, bytes] : chunks) std::free(memory);
  }
};

thread_local Arena g_arena;

// Outside a scope: the system's allocator, with the same header.
void* plain(std::size_t size) {
  char* at = static_cast<char*>(std::malloc(size + kHeader));
  if (at == nullptr) out_of_memory(size);
  auto* header = reinterpret_cast<Header*>(at);
  header->size = size;
  header->room = 0;
  return at + kHeader;
}

void* checked_malloc(std::size_t size) {
  return g_arena.depth > 0 ? g_arena.take(size) : plain(size);
}

void* checked_calloc(std::size_t count, std::size_t size) {
  void* block = checked_malloc(count * size);
  std::memset(block, 0, count * size);
  return block;
}

void checked_free(void* block) {
  if (block == nullptr) return;
  auto* header = reinterpret_cast<Header*>(static_cast<char*>(block) - kHeader);
  if (header->room == 0) {
    std::free(header);
  } else if (g_arena.depth > 0) {
    g_arena.give_back(block, *header);
  }
}

void* checked_realloc(void* old_block, std::size_t size) {
  if (old_block == nullptr) return checked_malloc(size);
  auto* header = reinterpret_cast<Header*>(static_cast<char*>(old_block) - kHeader);
  if (header->size >= size) return old_block;
  if (header->room >= size && g_arena.depth > 0) {
    header->size = size;
    return old_block;
  }
  void* block = checked_malloc(size);
  std::memcpy(block, old_block, header->size);
  checked_free(old_block);
  return block;
}

// Before any tree-sitter object exists: a block must be freed by the
// functions that allocated it.
[[gnu::constructor]] void install_at_load() { install_tree_sitter_allocator(); }

}  // namespace

void set_out_of_memory_handler(OutOfMemoryHandler handler) { g_handler.store(handler); }

ParseArenaScope::ParseArenaScope() { ++g_arena.depth; }
ParseArenaScope::ParseArenaScope(std::optional<std::size_t> budget) {
  if (++g_arena.depth == 1 && budget) g_arena.budget = *budget;
}
const std::size_t* ParseArenaScope::cancellation_flag() const {
  static_assert(sizeof(std::atomic<std::size_t>) == sizeof(std::size_t));
  return reinterpret_cast<const std::size_t*>(&g_arena.cancel);
}
bool ParseArenaScope::cancelled() const { return g_arena.cancel.load() != 0; }
void ParseArenaScope::abandon(Tree&& tree) const {
  Tree owned = std::move(tree);
  if (g_arena.depth > 0) static_cast<void>(owned.release());
}
ParseArenaScope::~ParseArenaScope() {
  if (--g_arena.depth == 0) g_arena.reset();
}

void install_tree_sitter_allocator() {
  static std::once_flag installed;
  std::call_once(installed,
                 [] { ts_set_allocator(checked_malloc, checked_calloc, checked_realloc, checked_free); });
}

}  // namespace keyhound
