// vlmconv check from the outside: a collection with whole, cut, padded, empty, missing and
// foreign files, in text and JSON, with the summary and the exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>

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
  const char* exe = std::getenv("VLMCONV");
  const std::string errFile = dir.file("stderr.txt");
  const std::string command = std::string(exe ? exe : "build/bin/vlmconv") + " check " + args +
                              " </dev/null 2>'" + errFile + "'";
  CheckRun run{-1, "", ""};
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  const int raw = pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  const std::vector<uint8_t> err = test::readBytes(errFile);
  run.err.assign(err.begin(), err.end());
  std::filesystem::remove(errFile);
  return run;
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
  EXPECT_EQ(out[4].rfind("unsupported\t", 0), 0u) << out[4];
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

}  // namespace
}  // namespace vlm
