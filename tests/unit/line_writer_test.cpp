#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "output/line_writer.hpp"
#include "base/internal_fault.hpp"

namespace keyhound {
namespace {

TEST(WriteAllTest, FullDeviceIsAnInternalFaultWithTheSystemMessage) {
  int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  try {
    write_all(full, "line\n", "stdout");
    FAIL() << "no fault";
  } catch (const InternalFault& fault) {
    EXPECT_STREQ(fault.what(), "failed printing to stdout: No space left on device (os error 28)");
  }
  close(full);
}

TEST(WriteLineTest, StdoutOnFullDeviceNamesTheStream) {
  int saved = dup(STDERR_FILENO);
  int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  dup2(full, STDERR_FILENO);
  std::string message;
  try {
    DescriptorWriter().write_line(Stream::Stderr, "line\n");
  } catch (const InternalFault& fault) {
    message = fault.what();
  }
  // Best effort writes swallow the same failure.
  EXPECT_NO_THROW(BestEffortDescriptorWriter().write_line(Stream::Stderr, "line\n"));
  dup2(saved, STDERR_FILENO);
  close(saved);
  close(full);
  EXPECT_EQ(message, "failed printing to stderr: No space left on device (os error 28)");
}

TEST(WriteAllTest, ClosedDescriptorIsDroppedAsDone) {
  int fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  close(fd);
  EXPECT_NO_THROW(write_all(fd, "line\n", "stdout"));
}

TEST(WriteAllTest, LongLinesArriveWholeThroughAPipe) {
  // Larger than a pipe's buffer: the write comes back partial and is resumed
  // while a reader drains the other end.
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  std::string line(1 << 20, 'x');
  line += '\n';
  std::string received;
  pid_t child = fork();
  if (child == 0) {
    close(ends[0]);
    write_all(ends[1], line, "stdout");
    _exit(0);
  }
  close(ends[1]);
  char buffer[65536];
  for (ssize_t got; (got = read(ends[0], buffer, sizeof buffer)) > 0;) {
    received.append(buffer, static_cast<std::size_t>(got));
  }
  close(ends[0]);
  int status = -1;
  waitpid(child, &status, 0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(received, line);
}

TEST(MemoryWriterTest, KeepsOrderAndStreamsAndReplaysThem) {
  MemoryWriter first;
  first.write_line(Stream::Stdout, "a\n");
  first.write_line(Stream::Stderr, "b\n");
  first.write_line(Stream::Stdout, "c\n");
  EXPECT_EQ(first.text(Stream::Stdout), "a\nc\n");
  EXPECT_EQ(first.text(Stream::Stderr), "b\n");
  first.write_line(Stream::Stdout, "d\n");
  MemoryWriter second;
  first.replay(second);
  // Runs of one stream arrive as one text of whole lines; the streams keep
  // their order.
  std::vector<std::pair<Stream, std::string>> expected = {
      {Stream::Stdout, "a\n"}, {Stream::Stderr, "b\n"}, {Stream::Stdout, "c\nd\n"}};
  EXPECT_EQ(second.lines(), expected);
}

}  // namespace
}  // namespace keyhound
