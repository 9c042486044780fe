#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace keyhound {

// The most memory the analysis has been measured to need per byte of
// source: tree-sitter's tree and parse stacks, kept in the parse arena until
// the file is done, on the densest text (a line of one name after another,
// about 365 bytes a byte), with a margin.
inline constexpr uint64_t kWorstBytesPerSourceByte = 450;

// The memory this process can still get: the least of what its
// address-space limit leaves, what its cgroup's limit leaves and what the
// system reports available. Nothing when none of them can be read.
std::optional<uint64_t> available_memory();

// Gives the memory freed by a large file's analysis back to the system, so
// that the next file is judged against what is really free again.
void release_unused_memory();
inline constexpr uint64_t kLargeSource = 16ULL << 20;

// The read-error message for a source of `size` bytes that cannot be
// analysed in the memory there is, e.g. "file too large to analyse in the
// available memory (needs about 3.6 GB)"; nothing when it fits. Other
// inputs held in memory (a baseline) give their own bytes per byte.
std::optional<std::string> memory_refusal(uint64_t size,
                                          uint64_t bytes_per_byte = kWorstBytesPerSourceByte);

// What the analysis of a parsed tree has been measured to need at most
// (bench/memory.py), with a margin: per node of the tree for the file index,
// precise mode's facts and the function graph (nested brackets, 127 bytes
// a node), and per lookup or call that may become a finding for the
// findings and their ordering (nested subscripts, about 1,150 bytes each).
// Ordinary code needs far less of both.
inline constexpr uint64_t kAnalysisBytesPerNode = 160;
inline constexpr uint64_t kAnalysisBytesPerPossibleFinding = 1400;

// The message for an analysis that would need `needed` bytes more than its
// share of what is left (the parse's memory already taken); nothing when
// it fits.
std::optional<std::string> analysis_refusal(uint64_t needed);

// How much memory one file's parse may take: its share (3/4 of what is
// available, split between the parses that may run at once); nothing for a
// file small enough to fit anywhere, for which no limit is read.
std::optional<uint64_t> parse_memory_share(uint64_t size);
// How many files are parsed at once, for the share above.
void set_concurrent_parses(unsigned count);

// The read-error message for a file whose parse passed its share.
std::string parse_refusal(uint64_t share);

}  // namespace keyhound
