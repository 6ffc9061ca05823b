// The second-start handover: the exact messages of a 600-character text over a real listener,
// and a receiver that never writes outside its buffer whatever arrives.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/handover.h"
#include "app/playlist.h"
#include "platform/instance_channel.h"
#include "test_util.h"

namespace vlm {
namespace {

struct Received {
  uint32_t param;
  std::string payload;
};

class Handover : public ::testing::Test {
 protected:
  void SetUp() override {
    ::chmod(runtime.path().c_str(), 0700);
    ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
  }
  test::ScratchDir runtime;
};

TEST_F(Handover, SixHundredCharactersInThreePiecesInto766Bytes) {
  std::string text;
  for (int i = 0; i < 600; ++i) text += char('a' + i % 26);
  EXPECT_EQ(handoverAnnouncedSize(600), 766u);

  const int listener = openInstanceListener();
  ASSERT_GE(listener, 0);
  std::vector<Received> got;
  std::thread receiver([&] {
    while (got.empty() || got.back().param != HANDOVER_END) {
      pollfd p = {listener, POLLIN, 0};
      if (::poll(&p, 1, 5000) != 1) return;
      InstanceMessage m;
      if (acceptInstanceMessage(listener, &m) && m.command == HANDOVER_COMMAND)
        got.push_back({m.param, m.payload});
    }
  });
  EXPECT_TRUE(sendCommandLineHandover(::getpid(), text));
  receiver.join();
  closeInstanceListener(listener);

  ASSERT_EQ(got.size(), 5u);
  EXPECT_EQ(got[0].param, 766u << 16);
  EXPECT_EQ(got[0].payload, "");
  for (uint32_t k = 0; k < 3; ++k) {
    EXPECT_EQ(got[1 + k].param, k << 16 | 1u);
    EXPECT_EQ(got[1 + k].payload, text.substr(255 * k, 255));
  }
  EXPECT_EQ(got[3].payload.size(), 90u);
  EXPECT_EQ(got[4].param, HANDOVER_END);

  HandoverReceiver r;
  std::string done;
  EXPECT_FALSE(onHandoverMessage(r, got[0].param, got[0].payload, &done));
  EXPECT_EQ(r.buffer.size(), 767u);  // the 766 announced bytes and a zero that always stays
  for (int i = 1; i < 4; ++i)
    EXPECT_FALSE(onHandoverMessage(r, got[i].param, got[i].payload, &done));
  EXPECT_TRUE(onHandoverMessage(r, got[4].param, got[4].payload, &done));
  EXPECT_EQ(done, text);
  // The end resets the receiver: a second end completes nothing.
  EXPECT_FALSE(onHandoverMessage(r, HANDOVER_END, "", &done));
}

TEST_F(Handover, TextsAtPieceBoundaries) {
  for (size_t n : {size_t(0), size_t(1), size_t(254), size_t(255), size_t(256), size_t(510)}) {
    std::string text(n, 'p');
    if (n) text.back() = 'q';
    HandoverReceiver r;
    std::string done = "old";
    onHandoverMessage(r, handoverAnnouncedSize(n) << 16, "", &done);
    for (size_t k = 0; 255 * k < n; ++k)
      onHandoverMessage(r, uint32_t(k) << 16 | 1u, text.substr(255 * k, 255), &done);
    ASSERT_TRUE(onHandoverMessage(r, HANDOVER_END, "", &done)) << n;
    EXPECT_EQ(done, text) << n;
  }
}

TEST_F(Handover, ReceiverStaysInsideItsBuffer) {
  HandoverReceiver r;
  std::string done;
  // Pieces and an end before any begin are ignored.
  EXPECT_FALSE(onHandoverMessage(r, 0u << 16 | 1u, "early", &done));
  EXPECT_FALSE(onHandoverMessage(r, HANDOVER_END, "", &done));

  onHandoverMessage(r, 10u << 16, "", &done);  // 11 bytes: 10 characters and the zero
  ASSERT_EQ(r.buffer.size(), 11u);
  onHandoverMessage(r, 0u << 16 | 1u, std::string(300, 'x'), &done);  // longer than the buffer
  onHandoverMessage(r, 0xFFFFu << 16 | 1u, "far away", &done);        // starts past the end
  onHandoverMessage(r, 1u << 16 | 1u, "beyond", &done);               // offset 255 > 10
  EXPECT_EQ(r.buffer.back(), '\0');
  ASSERT_TRUE(onHandoverMessage(r, HANDOVER_END, "", &done));
  EXPECT_EQ(done, std::string(10, 'x'));

  // The largest announcement is bounded and usable.
  onHandoverMessage(r, 0xFFFFu << 16, "", &done);
  EXPECT_LE(r.buffer.size(), HANDOVER_MAX_BUFFER);
  EXPECT_EQ(r.buffer.size(), 0x10000u);
  onHandoverMessage(r, 257u << 16 | 1u, "tail", &done);
  // Without piece 0 the text is empty: it is what lies before the first zero.
  ASSERT_TRUE(onHandoverMessage(r, HANDOVER_END, "", &done));
  EXPECT_EQ(done, "");

  // A piece copies at most 256 bytes even when more arrive.
  onHandoverMessage(r, 2000u << 16, "", &done);
  onHandoverMessage(r, 0u << 16 | 1u, std::string(400, 'y'), &done);
  ASSERT_TRUE(onHandoverMessage(r, HANDOVER_END, "", &done));
  EXPECT_EQ(done, std::string(256, 'y'));
}

TEST_F(Handover, SendFailsWithoutAListener) {
  EXPECT_FALSE(sendCommandLineHandover(999999, "/a.mid"));
  // Too long for the 16-bit size of the begin message: nothing is sent.
  EXPECT_FALSE(sendCommandLineHandover(::getpid(), std::string(70000, 'a')));
}

TEST_F(Handover, CommandLineOfASecondStartHasAbsolutePaths) {
  test::ScratchDir here;
  const auto old = std::filesystem::current_path();
  std::filesystem::current_path(here.path());
  const std::string text = handoverCommandLine({"my song.mid", "sub/../b.mld", "/abs/c.mmf"});
  std::filesystem::current_path(old);
  const std::string cwd = std::filesystem::canonical(here.path()).string();
  const std::vector<std::string> names = splitCommandLine(text.c_str());
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(std::filesystem::canonical(std::filesystem::path(names[0]).parent_path()).string(),
            cwd);
  EXPECT_EQ(std::filesystem::path(names[0]).filename(), "my song.mid");
  EXPECT_EQ(std::filesystem::path(names[1]).filename(), "b.mld");
  EXPECT_EQ(names[1].find(".."), std::string::npos);
  EXPECT_EQ(names[2], "/abs/c.mmf");
}

}  // namespace
}  // namespace vlm
