// The clipboard layer over its default in-memory backend and a test backend.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/clipboard.h"

namespace vlm {
namespace {

class FakeClipboard : public ClipboardBackend {
 public:
  bool has = false;
  std::string text;
  int puts = 0;
  bool getText(std::string& out) override {
    if (!has) return false;
    out = text;
    return true;
  }
  void putText(const char* t, size_t n) override {
    text.assign(t, n);
    has = true;
    ++puts;
  }
};

class Clipboard : public ::testing::Test {
 protected:
  void SetUp() override { setClipboardBackend(&fake); }
  void TearDown() override { setClipboardBackend(nullptr); }
  FakeClipboard fake;
};

TEST_F(Clipboard, NoText) {
  uint8_t* p = reinterpret_cast<uint8_t*>(1);
  int32_t length = 9;
  EXPECT_EQ(loadClipboardText(&p, &length), nullptr);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(length, 0);
  uint8_t buf[4];
  EXPECT_EQ(readClipboardPrefix(buf, 4), 0u);
  MemBlock b;
  EXPECT_EQ(blockFromClipboard(&b), 0);
  EXPECT_EQ(b.handle, nullptr);
}

TEST_F(Clipboard, LoadText) {
  fake.has = true;
  fake.text = "CDE";
  uint8_t* p = nullptr;
  int32_t length = 0;
  void* h = loadClipboardText(&p, &length);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(length, 3);
  EXPECT_EQ(blockCapacity(h), 4u);
  EXPECT_EQ(std::memcmp(p, "CDE", 4), 0);  // with its terminator
  freeBlock(h);
  fake.text = std::string("ab\0cd", 5);  // text ends at the first zero
  MemBlock b;
  EXPECT_EQ(blockFromClipboard(&b), 1);
  EXPECT_EQ(b.length, 2);
  blockFree(&b);
}

TEST_F(Clipboard, PrefixCopiesTheTerminator) {
  fake.has = true;
  fake.text = "abc";
  uint8_t buf[5];
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(readClipboardPrefix(buf, 5), 3u);
  EXPECT_EQ(buf[3], 0);  // the terminator is the 4th byte
  EXPECT_EQ(buf[4], '#');
  fake.text = "abcdefgh";
  EXPECT_EQ(readClipboardPrefix(buf, 5), 5u);
  EXPECT_EQ(std::memcmp(buf, "abcde", 5), 0);
  fake.text = "abcde";
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(readClipboardPrefix(buf, 5), 5u);
}

TEST_F(Clipboard, PutText) {
  putClipboardText("", 0);
  EXPECT_EQ(fake.puts, 0);  // nothing happens for length 0
  putClipboardText("hello", 4);
  EXPECT_EQ(fake.puts, 1);
  EXPECT_EQ(fake.text, "hell");
}

TEST(ClipboardDefault, InMemoryBackend) {
  setClipboardBackend(nullptr);
  putClipboardText("\x83\x81", 2);
  uint8_t* p = nullptr;
  int32_t length = 0;
  void* h = loadClipboardText(&p, &length);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(length, 2);
  EXPECT_EQ(p[0], 0x83);
  freeBlock(h);
}

// Standard input is read once and kept; writing goes to standard output.
TEST(ClipboardStdio, ReadsStandardInputOnceAndWritesStandardOutput) {
  int in[2];
  int out[2];
  ASSERT_EQ(::pipe(in), 0);
  ASSERT_EQ(::pipe(out), 0);
  ASSERT_EQ(::write(in[1], "MML text", 8), 8);
  ::close(in[1]);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in[0], STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    setClipboardBackend(&stdioClipboard());
    uint8_t* p = nullptr;
    int32_t length = 0;
    void* h = loadClipboardText(&p, &length);
    uint8_t again[16] = {};
    uint32_t n = readClipboardPrefix(again, sizeof again);
    bool ok = h && length == 8 && std::memcmp(p, "MML text", 9) == 0 && n == 8;
    putClipboardText("out!", 4);
    ::_exit(ok ? 0 : 1);
  }
  ::close(in[0]);
  ::close(out[1]);
  char buf[16] = {};
  ssize_t got = ::read(out[0], buf, sizeof buf);
  ::close(out[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(std::string(buf, got > 0 ? size_t(got) : 0), "out!");
}

}  // namespace
}  // namespace vlm
