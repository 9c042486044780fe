#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "run/file_loop.hpp"

namespace keyhound {
namespace {

class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/keyhound-test-XXXXXX";
    path_ = mkdtemp(name);
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  std::string write(const std::string& name, const std::string& content) const {
    std::string file = path_ + "/" + name;
    int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    close(fd);
    return file;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

struct Utf8Case {
  const char* label;
  std::string content;
  bool valid;
};

class ReadUtf8Test : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(ReadUtf8Test, StrictUtf8OnlyIsAccepted) {
  TempDir dir;
  std::string file = dir.write("f.py", GetParam().content);
  auto read = read_source_file(file);
  if (GetParam().valid) {
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(*read, GetParam().content);
  } else {
    ASSERT_FALSE(read.has_value());
    EXPECT_EQ(read.error(), "stream did not contain valid UTF-8");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Contents, ReadUtf8Test,
    ::testing::Values(
        Utf8Case{"empty", "", true},
        Utf8Case{"ascii", "x = 1\n", true},
        Utf8Case{"bom", "\xef\xbb\xbfx = 1\n", true},
        Utf8Case{"nul", std::string("a\0b\n", 4), true},
        Utf8Case{"two_three_four_bytes", "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", true},
        Utf8Case{"largest_code_point", "\xf4\x8f\xbf\xbf", true},
        Utf8Case{"invalid_start", "\xff = 1\n", false},
        Utf8Case{"invalid_middle", "x = '\x80'\n", false},
        Utf8Case{"truncated_end", "x = 1 #\xe2\x82", false},
        Utf8Case{"overlong_slash", "\xc0\xaf", false},
        Utf8Case{"overlong_three_bytes", "\xe0\x80\xaf", false},
        Utf8Case{"overlong_four_bytes", "\xf0\x80\x80\xaf", false},
        Utf8Case{"surrogate", "\xed\xa0\x80", false},
        Utf8Case{"above_max", "\xf4\x90\x80\x80", false},
        Utf8Case{"long_ascii_then_invalid", std::string(100, 'a') + "\xfe", false}),
    [](const ::testing::TestParamInfo<Utf8Case>& info) { return info.param.label; });

TEST(ReadSourceFileTest, OperatingSystemErrorsCarryTheirNumber) {
  TempDir dir;
  auto missing = read_source_file(dir.path() + "/missing.py");
  ASSERT_FALSE(missing.has_value());
  EXPECT_EQ(missing.error(), "No such file or directory (os error 2)");
  auto directory = read_source_file(dir.path());
  ASSERT_FALSE(directory.has_value());
  EXPECT_EQ(directory.error(), "Is a directory (os error 21)");
}

TEST(ReadSourceFileTest, PipeIsReadToItsEnd) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  std::string content(200000, 'x');
  pid_t child = fork();
  if (child == 0) {
    close(ends[0]);
    std::size_t done = 0;
    while (done < content.size()) {
      ssize_t n = write(ends[1], content.data() + done, content.size() - done);
      if (n <= 0) _exit(1);
      done += static_cast<std::size_t>(n);
    }
    _exit(0);
  }
  close(ends[1]);
  auto read = read_source_file("/dev/fd/" + std::to_string(ends[0]));
  close(ends[0]);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->size(), content.size());
}

}  // namespace
}  // namespace keyhound
