// Feeds arbitrary bytes through the whole per-file path: the bytes become a
// file, which the file loop reads, checks for UTF-8, analyses and renders
// with the default renderer into memory. The same bytes then go through
// the configuration reader (as TOML) and the cache's decoder (as an entry),
// and one input in four through precise mode with suppression comments
// honoured (half of them reporting unused ones) and the cache's encoder and
// decoder.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "analysis/analyze_file.hpp"
#include "base/utf8.hpp"
#include "cache/report_codec.hpp"
#include "project/configuration.hpp"
#include "run/file_loop.hpp"

namespace {

// One memory file, rewritten for every input: no disk is touched.
int input_file() {
  static const int fd = memfd_create("keyhound-fuzz-input", 0);
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int fd = input_file();
  if (fd < 0 || ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0) std::abort();
  for (size_t done = 0; done < size;) {
    ssize_t written = write(fd, data + done, size - done);
    if (written <= 0) std::abort();
    done += static_cast<size_t>(written);
  }
  const std::vector<std::string> paths{"/proc/self/fd/" + std::to_string(fd)};
  try {
    keyhound::MemoryWriter out;
    keyhound::run_file_loop(paths, out, keyhound::CaretRenderer(keyhound::Stylesheet::styled()));
    std::string_view text(reinterpret_cast<const char*>(data), size);
    if (keyhound::is_valid_utf8(text)) {
      // A second parse costs as much as the first: precise mode takes one
      // input in four (the fuzzer steers the first byte like any other).
      if (size > 0 && (data[0] & 3) == 0) {
        // Half of those also look for unused suppression comments.
        keyhound::FileReport precise = keyhound::analyze_file(
            "fuzz.py", text, keyhound::AnalysisOptions{true, true, (data[0] & 4) != 0});
        (void)keyhound::decode_findings(keyhound::encode_findings(precise), "fuzz.py", text);
      }
      (void)keyhound::parse_configuration(text, "pyproject.toml", "/fuzz");
    }
    (void)keyhound::decode_findings(text, "fuzz.py", "x = 1\n");
  } catch (const std::exception& fault) {
    // Writes to memory never fail: any fault is the input's doing.
    std::fprintf(stderr, "internal fault: %s\n", fault.what());
    std::abort();
  }
  return 0;
}
