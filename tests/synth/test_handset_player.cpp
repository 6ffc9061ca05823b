// The player's sequencer for songs with their own voices, on the silent audio output: it plays
// to the end and sends the completion notice, pauses and resumes at its position, and is chosen
// only for the file its song was prepared for; the channel monitor follows its notes.
#include "playback/handset_player.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "platform/audio.h"
#include "playback/handset_song.h"
#include "playback/player.h"
#include "stream_builders.h"

namespace vlm {
namespace {

struct Window : PlayerWindow {
  std::atomic<uint32_t> notice{0};
  void setPositionTimer(bool, int) override {}
  void playbackStopped() override {}
  void playNotify(uint32_t code) override { notice = code; }
};

// A one-second song: the SMF the player plays, and the routed song of one FM voice beside it.
struct Fixture {
  std::string smf = "/tmp/vlm-handset-player-" + std::to_string(::getpid()) + ".mid";
  std::shared_ptr<HandsetSong> song = std::make_shared<HandsetSong>();
  Fixture() {
    test::SmfBuilder b(480);
    b.tempo(0, 500000).note(0, 0, 60, 960);
    const std::vector<uint8_t> image = b.build(960);  // two beats at 120 bpm
    std::ofstream(smf, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
    smaf::VoiceSet set;
    smaf::Voice v;
    v.bankMsb = smaf::BANK_USER_MELODIC;
    v.fm.algorithm = 1;
    v.fm.op[0].envelope.attackRate = v.fm.op[1].envelope.attackRate = 15;
    set.voices.push_back(v);
    smaf::ChannelBinding bind;
    bind.kind = smaf::BindingKind::CUSTOM_MELODIC;
    bind.bankMsb = smaf::BANK_USER_MELODIC;
    set.bindings.push_back(bind);
    test::StreamBuilder s(480);
    s.track().meta(0, 0x51, {0x07, 0xA1, 0x20}).note(0, 0, 60, 100, 960).end(960);
    const auto stream = s.build();
    buildHandsetSong(stream.data(), uint32_t(stream.size()), set, HandsetPlayOptions{}, song.get());
  }
  ~Fixture() { ::unlink(smf.c_str()); }
};

TEST(HandsetPlayer, PlaysToTheEndPausesAndResumes) {
  allowSilentAudioOutput(true);
  Fixture f;
  ASSERT_EQ(f.song->handsetNotes, 1u);
  Window window;
  setPlayerWindow(&window);
  setPlayerHandsetSong(f.smf.c_str(), f.song);
  EXPECT_TRUE(playerHasHandsetSong(f.smf.c_str()));
  EXPECT_FALSE(playerHasHandsetSong("/tmp/another.mid"));
  setPlaybackFile(f.smf.c_str());
  playFromStart();
  ASSERT_EQ(playerState.state, PLAY_PLAYING) << playerState.errorText;
  EXPECT_EQ(playerState.songLength, 8u);  // two beats in sixteenths
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  // The channel monitor follows the handset synthesizer's notes as it does the player's.
  uint8_t levels[16] = {};
  sequencerChannelLevels(levels);
  EXPECT_EQ(levels[0], 100);
  EXPECT_EQ(levels[1], 0);
  pausePlayback(false);
  sequencerChannelLevels(levels);
  EXPECT_EQ(levels[0], 0);
  const uint32_t paused = playerState.position;
  EXPECT_GT(paused, 0u);
  EXPECT_LT(paused, 8u);
  EXPECT_EQ(window.notice.exchange(0), NOTIFY_ABORTED);  // the pause's
  resumePlayback();
  ASSERT_EQ(playerState.state, PLAY_PLAYING);
  for (int i = 0; i < 300 && !window.notice; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(window.notice.load(), NOTIFY_SUCCESSFUL);
  onPlayNotify(window.notice.exchange(0));
  EXPECT_EQ(playerState.state, PLAY_STOPPED);
  releasePlayerHandsetSong();
  EXPECT_FALSE(playerHasHandsetSong(f.smf.c_str()));
  setPlayerWindow(nullptr);
  closeAudioOutput();
}

}  // namespace
}  // namespace vlm
