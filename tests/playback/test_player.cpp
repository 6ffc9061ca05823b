// The player's state logic against a fake sequencer whose clock the test moves.
#include "playback/player.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert/conversion_run.h"
#include "recording_ui.h"

namespace vlm {
namespace {

// What every fake device of a test shares: the clock, the counters and the scripted failures.
struct FakeWorld {
  uint32_t nowMs = 0;
  uint32_t lengthSongPtr = 640;  // 40 bars of 16 sixteenths
  uint32_t lengthMsValue = 96000;
  int opens = 0, closes = 0, plays = 0, stops = 0;
  std::vector<uint32_t> seeks;
  std::vector<int64_t> playFrom;  // -1: from the current position
  DeviceError openError = DEVICE_OK;
  DeviceError playError = DEVICE_OK;
  NotifyFn pendingNotify;
  int openDevices = 0;
};
FakeWorld* world = nullptr;

// Song pointer advances one unit per 150 ms of the fake clock while playing.
class FakeSequencer : public MediaDevice {
 public:
  FakeSequencer() { ++world->openDevices; }
  ~FakeSequencer() override {
    if (open_) --world->openDevices;
  }
  DeviceError play(const uint32_t* from, NotifyFn notify) override {
    if (!open_) return DEVERR_INVALID_DEVICE_ID;
    ++world->plays;
    world->playFrom.push_back(from ? int64_t(*from) : -1);
    if (world->playError) return world->playError;
    if (from) position_ = *from;
    playing_ = true;
    startMs_ = world->nowMs;
    startPos_ = position_;
    world->pendingNotify = std::move(notify);
    return DEVICE_OK;
  }
  DeviceError stop() override {
    ++world->stops;
    position_ = current();
    playing_ = false;
    return DEVICE_OK;
  }
  DeviceError seek(uint32_t to) override {
    world->seeks.push_back(to);
    position_ = to;
    playing_ = false;
    return DEVICE_OK;
  }
  DeviceError setTimeFormat(uint32_t f) override {
    format_ = f;
    return DEVICE_OK;
  }
  DeviceError statusLength(uint32_t* v) override {
    *v = format_ == TIME_FORMAT_SONGPTR ? world->lengthSongPtr : world->lengthMsValue;
    return DEVICE_OK;
  }
  DeviceError statusPosition(uint32_t* v) override {
    *v = current();
    return DEVICE_OK;
  }
  DeviceError close() override {
    if (!open_) return DEVERR_INVALID_DEVICE_ID;
    ++world->closes;
    --world->openDevices;
    open_ = false;
    return DEVICE_OK;
  }

 private:
  bool open_ = true;
  bool playing_ = false;
  uint32_t format_ = TIME_FORMAT_MILLISECONDS;
  uint32_t position_ = 0, startPos_ = 0, startMs_ = 0;
  uint32_t current() const {
    return playing_ ? startPos_ + (world->nowMs - startMs_) / 150 : position_;
  }
};

struct RecordingWindow : PlayerWindow {
  bool timer = false;
  int stoppedMessages = 0;
  std::vector<uint32_t> notices;
  void setPositionTimer(bool on, int intervalMs) override {
    timer = on;
    EXPECT_EQ(intervalMs, 100);
  }
  void playbackStopped() override { ++stoppedMessages; }
  void playNotify(uint32_t code) override { notices.push_back(code); }
};

class PlayerTest : public ::testing::Test {
 protected:
  FakeWorld fake;
  test::RecordingUi ui;
  RecordingWindow window;

  void SetUp() override {
    world = &fake;
    setMediaDeviceFactory([](const char* type, const char*, std::unique_ptr<MediaDevice>* d) {
      if (std::string(type) != DEVICE_SEQUENCER) return DEVERR_INVALID_DEVICE_NAME;
      ++world->opens;
      if (world->openError) return world->openError;
      *d = std::make_unique<FakeSequencer>();
      return DEVICE_OK;
    });
    setConversionUi(&ui);
    setPlayerWindow(&window);
    playerState = PlayerState{};
    setPlaybackFile("/tmp/song.mid");
  }
  void TearDown() override {
    stopPlayback();
    playerState = PlayerState{};
    setPlayerWindow(nullptr);
    setConversionUi(nullptr);
    setMediaDeviceFactory(nullptr);
    world = nullptr;
  }
};

TEST_F(PlayerTest, PlayWhilePlayingDoesNothing) {
  playFromStart();
  ASSERT_EQ(playerState.state, PLAY_PLAYING);
  EXPECT_TRUE(window.timer);
  EXPECT_EQ(playerState.songLength, 640u);
  const int opens = fake.opens;
  playFromStart();
  resumePlayback();
  EXPECT_EQ(fake.plays, 1);
  EXPECT_EQ(fake.opens, opens);
  EXPECT_EQ(playerState.state, PLAY_PLAYING);
}

TEST_F(PlayerTest, PauseKeepingTheDeviceOpenThenResumeSeeksToZeroAndPlaysFromSavedPosition) {
  playFromStart();
  fake.nowMs = 150 * 37;
  ASSERT_EQ(updatePosition(), DEVICE_OK);
  EXPECT_EQ(playerState.position, 37u);
  fake.nowMs = 150 * 40;
  pausePlayback(false);
  EXPECT_EQ(playerState.state, PLAY_PAUSED);
  EXPECT_TRUE(playerState.pausedOpen);
  EXPECT_FALSE(window.timer);
  EXPECT_EQ(playerState.position, 40u);
  EXPECT_EQ(fake.openDevices, 1);

  const int opens = fake.opens;
  resumePlayback();
  EXPECT_EQ(fake.opens, opens) << "the paused device is reused";
  ASSERT_EQ(fake.seeks.size(), 1u);
  EXPECT_EQ(fake.seeks[0], 0u);
  ASSERT_EQ(fake.playFrom.size(), 2u);
  EXPECT_EQ(fake.playFrom[1], 40);
  EXPECT_EQ(playerState.state, PLAY_PLAYING);
  EXPECT_FALSE(playerState.pausedOpen);
  EXPECT_TRUE(window.timer);
}

TEST_F(PlayerTest, PauseWithCloseReopensAndResumesWithoutSeek) {
  playFromStart();
  fake.nowMs = 150 * 12;
  pausePlayback(true);
  EXPECT_EQ(playerState.state, PLAY_PAUSED);
  EXPECT_FALSE(playerState.pausedOpen);
  EXPECT_EQ(fake.openDevices, 0);
  // The position bar moves the saved position while paused.
  playerState.position = 20;
  resumePlayback();
  EXPECT_TRUE(fake.seeks.empty());
  EXPECT_EQ(fake.playFrom.back(), 20);
  EXPECT_EQ(playerState.state, PLAY_PLAYING);
}

TEST_F(PlayerTest, EndOfSongStopsClosesAndNotifiesTheWindow) {
  playFromStart();
  ASSERT_TRUE(fake.pendingNotify);
  fake.pendingNotify(NOTIFY_SUCCESSFUL);  // the device's notice reaches the window...
  ASSERT_EQ(window.notices.size(), 1u);
  EXPECT_EQ(playerState.state, PLAY_PLAYING);
  onPlayNotify(NOTIFY_ABORTED);  // ...which hands it on; other codes change nothing
  EXPECT_EQ(playerState.state, PLAY_PLAYING);
  onPlayNotify(window.notices[0]);
  EXPECT_EQ(playerState.state, PLAY_STOPPED);
  EXPECT_FALSE(playerState.sequencer);
  EXPECT_EQ(fake.openDevices, 0);
  EXPECT_EQ(window.stoppedMessages, 1);
  EXPECT_FALSE(window.timer);
  stopPlayback();  // stopping a stopped player sends nothing more
  EXPECT_EQ(window.stoppedMessages, 1);
}

TEST_F(PlayerTest, UnplayableFileReportsOnceAndStaysStopped) {
  fake.openError = DEVERR_INVALID_FILE;
  playFromStart();
  EXPECT_EQ(playerState.state, PLAY_STOPPED);
  ASSERT_EQ(ui.errors.size(), 1u);
  EXPECT_EQ(ui.errors[0], deviceErrorText(DEVERR_INVALID_FILE));
  EXPECT_STREQ(playerState.errorText, ui.errors[0].c_str());
  EXPECT_EQ(fake.plays, 0);
}

TEST_F(PlayerTest, FailedPlayClosesReportsAndLeavesStateUnchanged) {
  fake.playError = DEVERR_NO_AUDIO_OUTPUT;
  playFromStart();
  EXPECT_EQ(playerState.state, PLAY_STOPPED);
  EXPECT_EQ(ui.errors.size(), 1u);
  EXPECT_EQ(fake.openDevices, 0);
  EXPECT_FALSE(window.timer);
}

TEST_F(PlayerTest, OutOfRangeAndNamelessErrorsAreNeverShown) {
  fake.playError = DEVERR_OUTOFRANGE;
  playFromStart();
  EXPECT_TRUE(ui.errors.empty());
  fake.playError = DEVICE_OK;
  fake.openError = DEVERR_FILE_NOT_FOUND;
  setPlaybackFile("");
  playFromStart();
  EXPECT_TRUE(ui.errors.empty());
  EXPECT_EQ(playerState.state, PLAY_STOPPED);
}

TEST_F(PlayerTest, LengthMsIsCachedPerFile) {
  EXPECT_EQ(lengthMs(), 96000u);
  EXPECT_EQ(lengthMs(), 96000u);
  EXPECT_EQ(fake.opens, 1);
  EXPECT_EQ(fake.openDevices, 0) << "a length query closes what it opened";
  setPlaybackFile("/tmp/other.mid");
  fake.lengthMsValue = 5000;
  EXPECT_EQ(lengthMs(), 5000u);
  EXPECT_EQ(fake.opens, 2);
}

TEST_F(PlayerTest, LengthQueriesKeepAPausedDeviceOpen) {
  playFromStart();  // also measures, while playing, without a second open
  EXPECT_EQ(fake.opens, 1);
  pausePlayback(false);
  playerState.lengthMsCache = 0;
  lengthMs();
  queryLength();
  EXPECT_EQ(fake.openDevices, 1);
  resumePlayback();
  EXPECT_EQ(playerState.state, PLAY_PLAYING);
  EXPECT_EQ(fake.opens, 1);
}

TEST_F(PlayerTest, QueryLengthWhileStoppedOpensAndCloses) {
  fake.lengthSongPtr = 123;
  queryLength();
  EXPECT_EQ(playerState.songLength, 123u);
  EXPECT_EQ(fake.openDevices, 0);
}

TEST_F(PlayerTest, NewFileWhilePlayingStopsFirst) {
  playFromStart();
  setPlaybackFile("/tmp/next.mid");
  EXPECT_EQ(playerState.state, PLAY_STOPPED);
  EXPECT_EQ(window.stoppedMessages, 1);
  EXPECT_EQ(fake.openDevices, 0);
  EXPECT_EQ(playerState.lengthMsCache, 0u);
  EXPECT_EQ(playerState.sequencerFile, "/tmp/next.mid");
}

}  // namespace
}  // namespace vlm
