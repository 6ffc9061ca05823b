// vlmconv check from the outside: a collection with whole, cut, padded, empty, missing and
// foreign files, in text and JSON, with the summary and the exit status.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"

namespace vlm {
namespace {

using test::ScratchDir;
using test::writeBytes;
using test::writeText;

struct CheckRun {
  int status;
  std::string out;  // standard output
  std::string err;  // standard error
};

CheckRun check(const std::string& args, const ScratchDir& dir) {
  const std::string errFile = dir.file("stderr.txt");
  const test::CommandRun ran = test::runCommand(test::vlmconvProgram() + " check " + args +
                                                " </dev/null 2>'" + errFile + "'");
  CheckRun run{ran.status, ran.out, ""};
  const std::vector<uint8_t> err = test::readBytes(errFile);
  run.err.assign(err.begin(), err.end());
  std::filesystem::remove(errFile);
  return run;
}

// Checks the files `names` of `dir`, in that order.
CheckRun checkFiles(const ScratchDir& dir, const std::vector<std::string>& names) {
  std::string args;
  for (const std::string& name : names) args += (args.empty() ? "" : " ") + dir.file(name);
  return check(args, dir);
}

// The verdict that starts a line of the report ("complete", "damaged (checksum)", ...).
std::string verdict(const std::string& line) {
  return line.substr(0, line.find('\t'));
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// A format-0 file: tempo 500000, two quarter notes at 96 ticks a quarter, end of track.
std::vector<uint8_t> smallSmf() {
  const std::vector<uint8_t> track = {0,   0xFF, 0x51, 3,    0x07, 0xA1, 0x20, 0,    0x90,
                                      60,  100,  96,   0x80, 60,   0,    0,    0x90, 64,
                                      100, 96,   0x80, 64,   0,    0,    0xFF, 0x2F, 0};
  std::vector<uint8_t> smf = {'M', 'T', 'h', 'd', 0,   0,   0,   6, 0, 0, 0,
                              1,   0,   96,  'M', 'T', 'r', 'k', 0, 0, 0, uint8_t(track.size())};
  smf.insert(smf.end(), track.begin(), track.end());
  return smf;
}

TEST(Check, SortsACollectionIntoCompleteDamagedAndUnsupported) {
  ScratchDir dir;
  std::filesystem::create_directories(dir.file("songs/old"));
  const std::vector<uint8_t> whole = smallSmf();
  writeBytes(dir.file("songs/a_whole.mid"), whole);
  std::vector<uint8_t> cut(whole.begin(), whole.end() - 6);
  writeBytes(dir.file("songs/b_cut.mid"), cut);
  std::vector<uint8_t> padded = whole;
  padded.insert(padded.end(), {'J', 'U', 'N', 'K'});
  writeBytes(dir.file("songs/c_tail.mid"), padded);
  writeBytes(dir.file("songs/old/d_empty.mid"), {});
  writeText(dir.file("songs/old/e_notes.jpg"), "not a song");
  writeText(dir.file("list.m3u"), "songs/a_whole.mid\nmissing.mid\n");

  CheckRun run = check(dir.file("songs") + " " + dir.file("list.m3u"), dir);
  EXPECT_EQ(run.status, 1);
  const auto out = lines(run.out);
  ASSERT_EQ(out.size(), 7u) << run.out;
  EXPECT_EQ(
      out[0].rfind("complete\t" + dir.file("songs/a_whole.mid") + ": Standard MIDI File (2)", 0),
      0u)
      << out[0];
  EXPECT_NE(out[0].find("read completely (" + std::to_string(whole.size()) + " bytes)"),
            std::string::npos);
  EXPECT_NE(out[0].find("2 notes, 1 channels, 1.0 s"), std::string::npos) << out[0];
  EXPECT_NE(out[1].find("damaged\t"), std::string::npos);
  EXPECT_NE(out[1].find("cut short"), std::string::npos) << out[1];
  EXPECT_NE(out[2].find("stopped early at " + std::to_string(whole.size()) + " of " +
                        std::to_string(padded.size())),
            std::string::npos)
      << out[2];
  EXPECT_NE(out[3].find("d_empty.mid: Standard MIDI File: empty file"), std::string::npos)
      << out[3];
  EXPECT_EQ(verdict(out[4]), "unsupported") << out[4];
  EXPECT_NE(out[6].find("missing.mid: No such file or directory"), std::string::npos) << out[6];
  EXPECT_NE(run.err.find("2 read completely, 4 damaged, 1 unsupported"), std::string::npos)
      << run.err;

  // Several workers print the same lines in the same order.
  CheckRun parallel = check("-j 3 " + dir.file("songs") + " " + dir.file("list.m3u"), dir);
  EXPECT_EQ(parallel.out, run.out);
}

TEST(Check, JsonIsOneObjectPerLineAndAllGoodExitsZero) {
  ScratchDir dir;
  writeBytes(dir.file("a.mid"), smallSmf());
  writeBytes(dir.file("b.mid"), smallSmf());
  CheckRun run = check("--json " + dir.file("a.mid") + " " + dir.file("b.mid"), dir);
  EXPECT_EQ(run.status, 0) << run.err;
  const auto out = lines(run.out);
  ASSERT_EQ(out.size(), 2u);
  for (const std::string& line : out) {
    EXPECT_EQ(line.front(), '{');
    EXPECT_EQ(line.back(), '}');
    for (const char* key : {"\"status\": \"complete\"", "\"format\": 2", "\"ranOut\": false",
                            "\"notes\": 2", "\"seconds\": 1.000", "\"waves\": []"})
      EXPECT_NE(line.find(key), std::string::npos) << key << " in " << line;
  }
  EXPECT_NE(run.err.find("2 read completely, 0 damaged, 0 unsupported"), std::string::npos);
  EXPECT_EQ(check("", dir).status, 2);
  EXPECT_EQ(check("--bogus " + dir.file("a.mid"), dir).status, 2);
}

// Runs vlmconv with `args`; the exit status.
int vlmconv(const std::string& args) {
  const int raw = std::system((test::vlmconvProgram() + " " + args + " >/dev/null 2>&1").c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

size_t findId(const std::vector<uint8_t>& bytes, const char* id) {
  for (size_t i = 0; i + 4 <= bytes.size(); ++i)
    if (std::equal(id, id + 4, bytes.begin() + long(i))) return i;
  return std::string::npos;
}

TEST(Check, PmdWhoseChecksumDoesNotMatchIsDamagedEvenWhenEveryChunkParses) {
  ScratchDir dir;
  writeBytes(dir.file("song.mid"), smallSmf());
  writeText(dir.file("empty.ini"), "");
  ASSERT_EQ(vlmconv("convert --ini '" + dir.file("empty.ini") + "' --set dlcrc=1 --to 61 -o '" +
                    dir.file("whole.pmd") + "' '" + dir.file("song.mid") + "'"),
            0);
  const std::vector<uint8_t> whole = test::readBytes(dir.file("whole.pmd"));
  ASSERT_GT(whole.size(), 20u);
  // The copy mark of "sorc" changes a bit the reader ignores; the CRC still sees it.
  std::vector<uint8_t> flipped = whole;
  const size_t sorc = findId(flipped, "sorc");
  ASSERT_NE(sorc, std::string::npos);
  flipped[sorc + 6] ^= 0x02;
  writeBytes(dir.file("flipped.pmd"), flipped);
  std::vector<uint8_t> badCrc = whole;
  badCrc[badCrc.size() - 1] ^= 0x01;
  writeBytes(dir.file("crc.pmd"), badCrc);

  CheckRun run = checkFiles(dir, {"whole.pmd", "flipped.pmd", "crc.pmd"});
  const auto out = lines(run.out);
  ASSERT_EQ(out.size(), 3u) << run.out;
  EXPECT_EQ(verdict(out[0]), "complete") << out[0];
  EXPECT_EQ(verdict(out[1]), "damaged (checksum)") << out[1];
  EXPECT_NE(out[1].find("checksum does not match"), std::string::npos) << out[1];
  EXPECT_EQ(verdict(out[2]), "damaged (checksum)") << out[2];
  EXPECT_EQ(run.status, 1);

  // Without the download CRC there is nothing to match: the file is complete.
  ASSERT_EQ(vlmconv("convert --ini '" + dir.file("empty.ini") + "' --set dlcrc=0 --to 61 -o '" +
                    dir.file("plain.pmd") + "' '" + dir.file("song.mid") + "'"),
            0);
  EXPECT_EQ(verdict(lines(checkFiles(dir, {"plain.pmd"}).out)[0]), "complete");
}

TEST(Check, AFileThatIsNotItsFormatIsUnsupportedNotDamaged) {
  ScratchDir dir;
  writeText(dir.file("letter.mid"), "Dear friend, this is no song at all.\n");
  writeText(dir.file("photo.wav"), "JFIF and some picture bytes");
  writeText(dir.file("notes.mmf"), "a text someone named .mmf");
  CheckRun run = checkFiles(dir, {"letter.mid", "photo.wav", "notes.mmf"});
  const auto out = lines(run.out);
  ASSERT_EQ(out.size(), 3u) << run.out;
  EXPECT_EQ(verdict(out[0]), "unsupported") << out[0];
  EXPECT_NE(out[0].find("Standard MIDI File: the file holds nothing of this format"),
            std::string::npos)
      << out[0];
  for (const std::string& line : out) {
    EXPECT_EQ(verdict(line), "unsupported") << line;
    EXPECT_EQ(line.find("stopped early"), std::string::npos) << line;
  }
  EXPECT_NE(run.err.find("0 read completely, 0 damaged, 3 unsupported"), std::string::npos);
}

// Runs check with standard output and error on one terminal; what the terminal received.
std::string checkOnTerminal(const std::vector<std::string>& args) {
  const std::string program = test::vlmconvProgram();
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid < 0) return "";
  if (pid == 0) {
    std::vector<char*> argv = {const_cast<char*>(program.c_str()), const_cast<char*>("check")};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  std::string screen;
  char buffer[4096];
  for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) screen.append(buffer, size_t(n));
  close(master);
  waitpid(pid, nullptr, 0);
  return screen;
}

TEST(Check, SummaryStartsOnALineOfItsOwnOnATerminal) {
  ScratchDir dir;
  for (const char* name : {"a.mid", "b.mid", "c.mid"}) writeBytes(dir.file(name), smallSmf());
  for (const char* jobs : {"1", "3"}) {
    const std::string screen = checkOnTerminal({"-j", jobs, dir.path()});
    const size_t summary = screen.find("3 read completely, 0 damaged, 0 unsupported");
    ASSERT_NE(summary, std::string::npos) << screen;
    ASSERT_GT(summary, 0u);
    // The terminal's cursor is at the start of a line: after a line end, or after the line was
    // cleared from its start.
    const bool ownLine = screen[summary - 1] == '\n' ||
                         (summary >= 4 && screen.compare(summary - 4, 4, "\r\033[K") == 0);
    EXPECT_TRUE(ownLine) << screen;
    EXPECT_EQ(screen.find("protect none3 read"), std::string::npos) << screen;
  }
}

// A mono ADPCM WAVE image with a format chunk of the tag, rate, block size and bits (and the
// samples per block that follow from the block size), and the data.
std::vector<uint8_t> waveFile(uint16_t tag, uint32_t rate, uint16_t block, uint16_t bits,
                              const std::vector<uint8_t>& data) {
  test::Bytes samplesPerBlock;
  test::appendLE(samplesPerBlock, 1 + (block - 4) * 2, 2);
  return test::waveImage(test::waveFormat(tag, rate, block, bits, samplesPerBlock), data);
}

TEST(Check, AdpcmWavesAreReadAndShownInTheirOwnCodingOtherCodingsUnsupported) {
  ScratchDir dir;
  std::vector<uint8_t> ima(256 * 8, 0x07);                      // eight blocks of rising codes
  for (size_t b = 0; b < ima.size(); b += 256) ima[b + 2] = 0;  // each block's step index
  writeBytes(dir.file("ima.wav"), waveFile(0x0011, 11025, 256, 4, ima));
  writeBytes(dir.file("mp3.wav"), waveFile(0x0055, 22050, 1, 0, std::vector<uint8_t>(400, 0x55)));
  CheckRun run = checkFiles(dir, {"ima.wav", "mp3.wav"});
  const auto out = lines(run.out);
  ASSERT_EQ(out.size(), 2u) << run.out;
  EXPECT_EQ(verdict(out[0]), "complete") << out[0];
  EXPECT_NE(out[0].find("waves: ima-adpcm 11025 Hz"), std::string::npos) << out[0];
  // 4040 samples at 11025 Hz last 0.37 s, which the sound note rounds up to tenths.
  EXPECT_NE(out[0].find("0.4 s"), std::string::npos) << out[0];
  EXPECT_EQ(verdict(out[1]), "unsupported") << out[1];
  EXPECT_NE(out[1].find("format 0x0055"), std::string::npos) << out[1];
}

}  // namespace
}  // namespace vlm
