// The command line from the outside: exit statuses, messages, and files left alone.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "test_util.h"

namespace vlm {
namespace {

using test::readBytes;
using test::ScratchDir;
using test::writeBytes;
using test::writeText;

using Result = test::CommandRun;

Result vlmconv(const std::string& args, const std::string& stdinFile = "/dev/null",
               const std::string& environment = "") {
  return test::runCommand(environment + test::vlmconvProgram() + " " + args + " <" + stdinFile +
                          " 2>&1");
}

// One quarter note; the track ends when it does.
const std::vector<uint8_t> STREAM = {'V', 'T', 'h', 'd', 0,  0,    0,    2,  0, 48,
                                     'V', 'T', 'r', 'k', 0,  0,    0,    10, 0, 0x90,
                                     60,  100, 0,   48,  48, 0xFF, 0x2F, 0};

TEST(Vlmconv, UsageErrorsExitTwo) {
  EXPECT_EQ(vlmconv("").status, 2);
  EXPECT_EQ(vlmconv("frobnicate").status, 2);
  EXPECT_EQ(vlmconv("convert x.vlm").status, 2);           // no --to
  EXPECT_EQ(vlmconv("convert x.vlm --to 999").status, 2);  // unknown output
  EXPECT_EQ(vlmconv("convert --to mid").status, 2);        // no input
  EXPECT_EQ(vlmconv("convert a.vlm --to -3 --bogus").status, 2);
  EXPECT_EQ(vlmconv("convert a.vlm --to -3 --set nosuchkey=1").status, 2);
  Result help = vlmconv("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("convert"), std::string::npos);
  EXPECT_EQ(vlmconv("--version").status, 0);
}

TEST(Vlmconv, InfoOfASongWithoutTempoShowsTheDefault120) {
  ScratchDir dir;
  const std::vector<uint8_t> smf = {'M', 'T', 'h', 'd', 0,    0,    0,    6,    0,  0, 0,
                                    1,   0,   96,  'M', 'T',  'r',  'k',  0,    0,  0, 12,
                                    0,   0x90, 60, 100, 96,   0x80, 60,   0,    0,  0xFF, 0x2F,
                                    0};
  writeBytes(dir.file("plain.mid"), smf);
  Result text = vlmconv("info " + dir.file("plain.mid"));
  EXPECT_NE(text.out.find("tempo: 120..120 bpm"), std::string::npos) << text.out;
  Result json = vlmconv("info --json " + dir.file("plain.mid"));
  EXPECT_NE(json.out.find("\"tempoMin\": 120,\n  \"tempoMax\": 120"), std::string::npos)
      << json.out;
}

TEST(Vlmconv, DetectPrintsCodeTabPath) {
  ScratchDir dir;
  writeBytes(dir.file("a.pmd"), {'c', 'm', 'i', 'd', 0});
  Result run = vlmconv("detect " + dir.file("a.pmd") + " " + dir.file("b.xyz"));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "61\t" + dir.file("a.pmd") + "\n-2\t" + dir.file("b.xyz") + "\n");
}

TEST(Vlmconv, DetectHelpIsUsageNotAPath) {
  Result run = vlmconv("detect --help");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.find("--help"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("usage: vlmconv detect"), std::string::npos) << run.out;
}

TEST(Vlmconv, CopyIsIdenticalAndNeverOverwritesWithoutForce) {
  ScratchDir dir;
  const std::string in = dir.file("x.vlm"), out = dir.file("copy.vlm");
  writeBytes(in, STREAM);
  Result first = vlmconv("convert " + in + " --to -3 -o " + out);
  EXPECT_EQ(first.status, 0) << first.out;
  EXPECT_EQ(readBytes(out), STREAM);
  EXPECT_NE(first.out.find("1 converted, 0 skipped, 0 failed"), std::string::npos);

  writeBytes(out, {9, 9, 9});
  Result second = vlmconv("convert " + in + " --to copy -o " + out);
  EXPECT_EQ(second.status, 1);
  EXPECT_EQ(readBytes(out), (std::vector<uint8_t>{9, 9, 9}));
  EXPECT_NE(second.out.find("0 converted, 1 skipped, 0 failed"), std::string::npos);

  EXPECT_EQ(vlmconv("convert " + in + " --to -3 -o " + out + " --force").status, 0);
  EXPECT_EQ(readBytes(out), STREAM);
}

TEST(Vlmconv, UnreadableInputsFail) {
  ScratchDir dir;
  writeBytes(dir.file("empty.vlm"), {});
  EXPECT_EQ(vlmconv("convert " + dir.file("empty.vlm") + " --to -3 -d " + dir.path()).status, 1);
  EXPECT_EQ(vlmconv("convert " + dir.file("none.vlm") + " --to -3").status, 1);
  writeBytes(dir.file("song.xyz"), {1, 2, 3});
  EXPECT_EQ(vlmconv("convert " + dir.file("song.xyz") + " --to -3").status, 1);
  EXPECT_EQ(vlmconv("info " + dir.file("song.xyz")).status, 1);
}

TEST(Vlmconv, FoldersAndPlaylistsExpand) {
  ScratchDir dir;
  std::filesystem::create_directories(dir.file("in/sub"));
  std::filesystem::create_directories(dir.file("out"));
  writeBytes(dir.file("in/a.vlm"), STREAM);
  writeBytes(dir.file("in/sub/b.vlm"), STREAM);
  writeBytes(dir.file("in/ignored.xyz"), STREAM);
  Result run = vlmconv("convert " + dir.file("in") + " --to -3 -d " + dir.file("out") + " -j 2");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(readBytes(dir.file("out/a.vlm")), STREAM);
  EXPECT_EQ(readBytes(dir.file("out/b.vlm")), STREAM);
  test::writeText(dir.file("list.m3u"),
                  "#EXTM3U\nin/a.vlm\r\n\n" + dir.file("in/sub/b.vlm") + "\n");
  std::filesystem::remove_all(dir.file("out"));
  std::filesystem::create_directories(dir.file("out"));
  run = vlmconv("convert " + dir.file("list.m3u") + " --to -3 -d " + dir.file("out"));
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(std::filesystem::exists(dir.file("out/a.vlm")));
  EXPECT_TRUE(std::filesystem::exists(dir.file("out/b.vlm")));
}

TEST(Vlmconv, DumpMergesTracksByTimeLowestFirst) {
  ScratchDir dir;
  // Two chunks: track 0 has events at 0 and 10, track 1 at 0 and 5.
  std::vector<uint8_t> image = {'V', 'T', 'h', 'd', 0, 0, 0, 2, 0, 96};
  auto chunk = [&](std::vector<uint8_t> events) {
    image.insert(image.end(), {'V', 'T', 'r', 'k', 0, 0, 0, uint8_t(events.size())});
    image.insert(image.end(), events.begin(), events.end());
  };
  chunk({0, 0xB0, 7, 100, 10, 0x90, 60, 64, 0, 10, 0, 0xFF, 0x2F, 0});
  chunk({0, 0xC1, 5, 0, 5, 0x91, 62, 64, 0, 20, 0, 0xFF, 0x2F, 0});
  writeBytes(dir.file("two.vlm"), image);
  Result run = vlmconv("dump " + dir.file("two.vlm"));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "timebase 96\n0 0 B0 07 64\n0 1 C1 05 00\n5 1 91 3E 40 00 14\n5 1 FF 2F 00\n"
            "10 0 90 3C 40 00 0A\n10 0 FF 2F 00\n");
}

TEST(Vlmconv, InfoJsonHasTheKeys) {
  ScratchDir dir;
  writeBytes(dir.file("x.vlm"), STREAM);
  Result run = vlmconv("info --json " + dir.file("x.vlm"));
  EXPECT_EQ(run.status, 0);
  for (const char* key : {"\"format\": 3", "\"title\"", "\"protect\"", "\"timebase\": 48",
                          "\"channels\"", "\"lyrics\""})
    EXPECT_NE(run.out.find(key), std::string::npos) << key;
}

}  // namespace
}  // namespace vlm

namespace vlm {
namespace {

TEST(Vlmconv, ParallelConversionsMatchSerialOnes) {
  ScratchDir dir;
  std::filesystem::create_directories(dir.file("in"));
  for (int i = 0; i < 6; ++i) {
    std::vector<uint8_t> song = STREAM;
    song[19] = uint8_t(0x90 | i);  // a different channel each
    song[20] = uint8_t(48 + i);
    writeBytes(dir.file("in/s" + std::to_string(i) + ".vlm"), song);
  }
  for (const char* j : {"1", "3"}) {
    std::filesystem::create_directories(dir.file(std::string("out") + j));
    Result r = vlmconv("convert " + dir.file("in") + " --to mid -j " + j + " -d " +
                       dir.file(std::string("out") + j));
    ASSERT_EQ(r.status, 0) << r.out;
  }
  for (int i = 0; i < 6; ++i) {
    const std::string name = "/s" + std::to_string(i) + ".mid";
    EXPECT_EQ(readBytes(dir.file("out1") + name), readBytes(dir.file("out3") + name));
    EXPECT_FALSE(readBytes(dir.file("out1") + name).empty());
  }
}

// A stream carries no title of its own: converted after a titled song in one batch, it must not
// take that song's title.
TEST(Vlmconv, ABatchGivesEachFileTheBytesItGetsAlone) {
  ScratchDir dir;
  writeText(dir.file("a.mml"), "#TITLE \"Morning Bell\"\nT120\n{ O4 L4 C D E F }\n");
  writeBytes(dir.file("b.vlm"), STREAM);
  std::filesystem::create_directories(dir.file("alone"));
  std::filesystem::create_directories(dir.file("batch"));
  ASSERT_EQ(vlmconv("convert " + dir.file("b.vlm") + " --to dxm32 -d " + dir.file("alone")).status,
            0);
  ASSERT_EQ(vlmconv("convert " + dir.file("a.mml") + " " + dir.file("b.vlm") + " --to dxm32 -d " +
                    dir.file("batch"))
                .status,
            0);
  EXPECT_FALSE(readBytes(dir.file("alone/b.dxm")).empty());
  EXPECT_EQ(readBytes(dir.file("alone/b.dxm")), readBytes(dir.file("batch/b.dxm")));
}

TEST(Vlmconv, AnUnwritableOutputFailsAndLeavesNoFile) {
  ScratchDir dir;
  writeBytes(dir.file("x.vlm"), STREAM);
  Result r =
      vlmconv("convert " + dir.file("x.vlm") + " --to -3 -o " + dir.file("no/such/folder/x.vlm"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("0 converted, 0 skipped, 1 failed"), std::string::npos);
}

TEST(Vlmconv, MelodyMailTextRoundTrip) {
  ScratchDir dir;
  writeBytes(dir.file("x.vlm"), STREAM);
  // The text goes to standard output; read back from standard input it is the same song.
  Result text = vlmconv("convert " + dir.file("x.vlm") + " --to mld-fm16n --mail-text 2>/dev/null");
  ASSERT_EQ(text.status, 0);
  ASSERT_EQ(text.out.rfind("--B:M\r\n", 0), 0u) << text.out;
  test::writeText(dir.file("mail.txt"), text.out);
  Result info = vlmconv("info clip.txt --json", dir.file("mail.txt"));
  EXPECT_EQ(info.status, 0) << info.out;
  EXPECT_NE(info.out.find("\"format\": 24"), std::string::npos);
  EXPECT_NE(info.out.find("\"notes\": 1"), std::string::npos);
}

// What people meet first: an output folder that is not there yet, a typo in a path or a format
// name, an output that cannot be written. Each failure names its path and its cause.
TEST(Vlmconv, FailuresNameTheirPathAndCause) {
  ScratchDir dir;
  writeBytes(dir.file("x.vlm"), STREAM);
  Result made = vlmconv("convert " + dir.file("x.vlm") + " --to mid -d " + dir.file("new/deep"));
  EXPECT_EQ(made.status, 0) << made.out;
  EXPECT_FALSE(readBytes(dir.file("new/deep/x.mid")).empty());

  // Each failure: its exit status and the words that name its path and cause.
  auto expectFailure = [](const Result& run, int status, const std::string& words) {
    EXPECT_EQ(run.status, status) << run.out;
    EXPECT_NE(run.out.find(words), std::string::npos) << run.out;
  };
  expectFailure(vlmconv("convert " + dir.file("nope.mid") + " --to mid"), 1,
                dir.file("nope.mid") + ": No such file or directory");
  EXPECT_NE(vlmconv("info " + dir.file("nope.mid")).out.find("No such file or directory"),
            std::string::npos);
  expectFailure(
      vlmconv("convert " + dir.file("x.vlm") + " --to -3 -o " + dir.file("no/such/x.vlm")), 1,
      "cannot write " + dir.file("no/such/x.vlm") + ": No such file or directory");
  writeBytes(dir.file("file"), {1});
  expectFailure(vlmconv("convert " + dir.file("x.vlm") + " --to mid -d " + dir.file("file")), 1,
                "cannot create " + dir.file("file"));
  const Result typo = vlmconv("convert " + dir.file("x.vlm") + " --to mdl");
  expectFailure(typo, 2, "did you mean");
  EXPECT_NE(typo.out.find("mld"), std::string::npos);
}

TEST(Vlmconv, FamilyNamesConvertAndAreListed) {
  ScratchDir dir;
  writeBytes(dir.file("x.vlm"), STREAM);
  Result run = vlmconv("convert " + dir.file("x.vlm") + " --to mld -d " + dir.file("o"));
  ASSERT_EQ(run.status, 0) << run.out;
  Result byCode = vlmconv("convert " + dir.file("x.vlm") + " --to 24 -d " + dir.file("p"));
  ASSERT_EQ(byCode.status, 0) << byCode.out;
  EXPECT_EQ(readBytes(dir.file("o/x.mld")), readBytes(dir.file("p/x.mld")));
  const std::string formats = vlmconv("formats").out;
  for (const char* line : {"mld  =  24", "pmd  =  61", "mmf  =  53", "dxm  =  13"})
    EXPECT_NE(formats.find(line), std::string::npos) << line;
}

// Both ways of syncing give the same files; a bad --sync is a usage error.
TEST(Vlmconv, SyncEachAndBatchGiveTheSameOutputs) {
  ScratchDir dir;
  writeBytes(dir.file("x.vlm"), STREAM);
  ASSERT_EQ(
      vlmconv("convert " + dir.file("x.vlm") + " --to mid --sync each -d " + dir.file("e")).status,
      0);
  ASSERT_EQ(
      vlmconv("convert " + dir.file("x.vlm") + " --to mid --sync batch -d " + dir.file("b")).status,
      0);
  EXPECT_EQ(readBytes(dir.file("e/x.mid")), readBytes(dir.file("b/x.mid")));
  EXPECT_EQ(vlmconv("convert " + dir.file("x.vlm") + " --to mid --sync never").status, 2);
  // No temporary file stays behind.
  size_t entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.file("b")))
    entries += !e.path().empty();
  EXPECT_EQ(entries, 1u);
}

// A folder whose path is `bytes` long or a little more, made of names the system allows.
std::string deepFolder(const ScratchDir& dir, size_t bytes) {
  std::string path = dir.path();
  for (char c = 'a'; path.size() < bytes; ++c) path += "/" + std::string(200, c);
  std::filesystem::create_directories(path);
  return path;
}

TEST(Vlmconv, LongPathsAreNeverCut) {
  ScratchDir dir;
  const std::string folder = deepFolder(dir, 700);
  const std::string input = folder + "/song with a long name.vlm";
  writeBytes(input, STREAM);
  // Beside the input, with the new extension.
  Result beside = vlmconv("convert '" + input + "' --to mid");
  EXPECT_EQ(beside.status, 0) << beside.out;
  EXPECT_FALSE(readBytes(folder + "/song with a long name.mid").empty()) << beside.out;
  // Into a long output folder, and to a long output name.
  const std::string out = deepFolder(dir, 900) + "/out";
  EXPECT_EQ(vlmconv("convert '" + input + "' --to mid -d '" + out + "'").status, 0);
  EXPECT_FALSE(readBytes(out + "/song with a long name.mid").empty());
  EXPECT_EQ(vlmconv("convert '" + input + "' --to -3 -o '" + out + "/copy.vlm'").status, 0);
  EXPECT_EQ(readBytes(out + "/copy.vlm"), STREAM);
  // check, info and dump read it.
  EXPECT_EQ(vlmconv("info '" + input + "'").status, 0);
  EXPECT_EQ(vlmconv("check '" + input + "'").status, 0);
}

TEST(Vlmconv, APathLongerThanTheSystemAllowsIsRefusedBeforeAnythingIsWritten) {
  ScratchDir dir;
  writeBytes(dir.file("song.vlm"), STREAM);
  const std::string tooLong = dir.path() + "/" + std::string(5000, 'x') + ".mid";
  Result run = vlmconv("convert '" + dir.file("song.vlm") + "' --to mid -o '" + tooLong + "'");
  EXPECT_NE(run.status, 0);
  EXPECT_NE(run.out.find("more than the system allows"), std::string::npos) << run.out;
  size_t files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) files += !e.is_directory();
  EXPECT_EQ(files, 1u);  // the input alone
}

// A mono 8-bit PCM WAVE of `samples` samples at 8000 Hz: a square wave.
std::vector<uint8_t> pcmWave(uint32_t samples) {
  std::vector<uint8_t> w = {'R',  'I',  'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V',  'E',  'f', 'm',
                            't',  ' ',  16,  0,   0, 0, 1, 0, 1,   0,   0x40, 0x1F, 0,   0,
                            0x40, 0x1F, 0,   0,   1, 0, 8, 0, 'd', 'a', 't',  'a'};
  for (int shift = 0; shift < 32; shift += 8) w.push_back(uint8_t(samples >> shift));
  for (uint32_t i = 0; i < samples; ++i) w.push_back((i / 10) % 2 ? 0xC0 : 0x40);
  const uint32_t riff = uint32_t(w.size() - 8);
  for (int k = 0; k < 4; ++k) w[4 + k] = uint8_t(riff >> (8 * k));
  return w;
}

TEST(Vlmconv, QcpGoesThroughTheVoiceConverterOrFailsNamingIt) {
  ScratchDir dir;
  writeText(dir.file("voice.qcp"), "RIFF....QLCMfmt  a voice file");
  const std::string bin = dir.file("bin");
  std::filesystem::create_directories(bin);
  // Without the converter: a failure that names it, and nothing written.
  Result missing =
      vlmconv("convert '" + dir.file("voice.qcp") + "' --to mid -o '" + dir.file("none.mid") + "'",
              "/dev/null", "PATH='" + bin + "' ");
  EXPECT_EQ(missing.status, 1) << missing.out;
  EXPECT_NE(missing.out.find("pvconv"), std::string::npos) << missing.out;
  EXPECT_FALSE(std::filesystem::exists(dir.file("none.mid")));
  Result checked =
      vlmconv("check '" + dir.file("voice.qcp") + "'", "/dev/null", "PATH='" + bin + "' ");
  EXPECT_EQ(checked.out.rfind("unsupported\t", 0), 0u) << checked.out;
  EXPECT_NE(checked.out.find("pvconv"), std::string::npos) << checked.out;
  // A converter that makes a wave: the song is that wave.
  writeBytes(dir.file("made.wav"), pcmWave(8000));
  writeText(bin + "/pvconv", "#!/bin/sh\nexec /bin/cp '" + dir.file("made.wav") + "' \"$2\"\n");
  std::filesystem::permissions(bin + "/pvconv", std::filesystem::perms::owner_all);
  Result made =
      vlmconv("convert '" + dir.file("voice.qcp") + "' --to mid -o '" + dir.file("voice.mid") + "'",
              "/dev/null", "PATH='" + bin + "' ");
  EXPECT_EQ(made.status, 0) << made.out;
  EXPECT_GT(readBytes(dir.file("voice.mid")).size(), 30u);
  Result wave = vlmconv("info '" + dir.file("made.wav") + "'");
  EXPECT_NE(wave.out.find("wave file: pcm, 8000 Hz, 1 channel, 8 bits, 8000 bytes of data"),
            std::string::npos)
      << wave.out;
  Result info = vlmconv("info '" + dir.file("voice.qcp") + "'", "/dev/null", "PATH='" + bin + "' ");
  EXPECT_EQ(info.status, 0) << info.out;
  checked = vlmconv("check '" + dir.file("voice.qcp") + "'", "/dev/null", "PATH='" + bin + "' ");
  EXPECT_EQ(checked.out.rfind("complete\t", 0), 0u) << checked.out;
}

}  // namespace
}  // namespace vlm
