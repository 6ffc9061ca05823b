#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "convert/format_table.h"
#include "platform/clipboard.h"
#include "test_util.h"

namespace vlm {
namespace {

using test::ScratchDir;
using test::writeBytes;

class DetectFormat : public ::testing::Test {
 protected:
  FormatCode detect(const std::string& name, const std::vector<uint8_t>& bytes) {
    writeBytes(dir.file(name), bytes);
    return detectFormat(dir.file(name).c_str());
  }
  ScratchDir dir;
};

const std::vector<uint8_t> SOME = {1, 2, 3, 4, 5, 6};

TEST_F(DetectFormat, ExtensionsMatchWholeAndWithoutCase) {
  EXPECT_EQ(detect("a.mid", SOME), 2);
  EXPECT_EQ(detect("b.MID", SOME), 2);
  EXPECT_EQ(detect("c.midi", SOME), 2);
  EXPECT_EQ(detect("d.rmi", SOME), 2);
  EXPECT_EQ(detect("e.Kar", SOME), 2);
  EXPECT_EQ(detect("f.mid1", SOME), 0);
  EXPECT_EQ(detect("noextension", SOME), 0);
  EXPECT_EQ(detect("g.mml", SOME), 1);
  EXPECT_EQ(detect("h.mmlc", SOME), 1);
  EXPECT_EQ(detect("i.vlm", SOME), 3);
  EXPECT_EQ(detect("j.dat", SOME), 11);
  EXPECT_EQ(detect("k.als", SOME), 12);
  EXPECT_EQ(detect("l.dxm", SOME), 13);
  EXPECT_EQ(detect("m.cmd", SOME), 21);
  EXPECT_EQ(detect("n.dlm", SOME), 24);
  EXPECT_EQ(detect("o.txt", SOME), 24);
  EXPECT_EQ(detect("p.mel", SOME), 41);
  EXPECT_EQ(detect("q.SML", SOME), 41);
  EXPECT_EQ(detect("r.mmd", SOME), 41);
  EXPECT_EQ(detect("s.mmf", SOME), 53);
  EXPECT_EQ(detect("t.m3u", SOME), -1);
  EXPECT_EQ(detect("u.qcp", SOME), 71);
  EXPECT_EQ(detect("v.wav", SOME), 72);
  EXPECT_EQ(detect("w.wam", SOME), 0);
  // The extension is the part from the last dot.
  EXPECT_EQ(detect("x.mid.txt", SOME), 24);
}

TEST_F(DetectFormat, MagicsDecideSharedExtensions) {
  EXPECT_EQ(detect("a.pmd", {'c', 'm', 'i', 'd', 0}), 61);
  EXPECT_EQ(detect("b.pmd", {'M', 'T', 'h', 'd', 0}), 2);
  EXPECT_EQ(detect("c.pmd", SOME), 22);
  EXPECT_EQ(detect("d.smd", {'M', 'M', 'M', 'D', 0}), 53);
  EXPECT_EQ(detect("e.smd", SOME), 51);
  EXPECT_EQ(detect("f.smz", {'M', 'M', 'M', 'D', 0}), 57);
  EXPECT_EQ(detect("g.smz", SOME), 52);
  // Magics are compared exactly, on the first four bytes only.
  EXPECT_EQ(detect("h.pmd", {'C', 'M', 'I', 'D', 0}), 22);
  EXPECT_EQ(detect("i.pmd", {0, 'c', 'm', 'i', 'd'}), 22);
}

TEST_F(DetectFormat, ShortFilesMatchNoMagic) {
  EXPECT_EQ(detect("a.pmd", {'c', 'm', 'i'}), 22);
  EXPECT_EQ(detect("b.smd", {'M', 'M', 'M'}), 51);
  EXPECT_EQ(detect("c.smz", {}), 52);
}

TEST_F(DetectFormat, RefusedImelodyMagic) {
  EXPECT_EQ(detect("a.mld", {0xEF, 0x41, 0x8B, 0xA4, 0}), 0);
  EXPECT_EQ(detect("b.mld", {'m', 'e', 'l', 'o', 0}), 24);
  EXPECT_EQ(detect("c.mld", {}), 24);
  EXPECT_EQ(detect("d.mld", {0xEF, 0x41, 0x8B}), 24);
}

TEST_F(DetectFormat, DirectoriesComeBeforeExtensions) {
  std::filesystem::create_directory(dir.file("songs.mid"));
  EXPECT_EQ(detectFormat(dir.file("songs.mid").c_str()), -2);
  EXPECT_EQ(detectFormat(dir.path().c_str()), -2);
  EXPECT_EQ(detectFormat(dir.file("missing.mid").c_str()), -2);
}

TEST_F(DetectFormat, ClipboardPseudoFileNeverTouchesDisk) {
  class Fixed : public ClipboardBackend {
   public:
    bool getText(std::string& text) override {
      text = "MThd";
      ++reads;
      return true;
    }
    void putText(const char*, size_t) override {}
    int reads = 0;
  } fixed;
  setClipboardBackend(&fixed);
  EXPECT_EQ(detectFormat("clip.txt"), 24);
  EXPECT_EQ(detectFormat("CLIP.TXT"), 24);
  EXPECT_EQ(detectFormat("Clip.Txt"), 24);
  EXPECT_GE(fixed.reads, 1);
  setClipboardBackend(nullptr);
  // A real file of that name in a folder is an ordinary .txt file.
  EXPECT_EQ(detect("clip.txt", SOME), 24);
}

// A walk's result is known to be a file: the same codes without asking the file system first,
// and the magics still read for the extensions that need them.
TEST_F(DetectFormat, KnownFilesGiveTheSameCodes) {
  writeBytes(dir.file("a.pmd"), {'c', 'm', 'i', 'd', 0});
  writeBytes(dir.file("b.mid"), SOME);
  writeBytes(dir.file("c.mld"), {0xEF, 0x41, 0x8B, 0xA4, 0});
  EXPECT_EQ(detectFileFormat(dir.file("a.pmd").c_str()), 61);
  EXPECT_EQ(detectFileFormat(dir.file("b.mid").c_str()), 2);
  EXPECT_EQ(detectFileFormat(dir.file("c.mld").c_str()), 0);
  EXPECT_EQ(detectFileFormat(nullptr), 0);
}

TEST(OutputNames, FamiliesPickTheirCommonVariant) {
  EXPECT_EQ(findOutputFormat("mld")->code, 24);
  EXPECT_EQ(findOutputFormat("PMD")->code, 61);
  EXPECT_EQ(findOutputFormat("mmf")->code, 53);
  EXPECT_EQ(findOutputFormat("dxm")->code, 13);
  EXPECT_STREQ(outputFamilyName(24), "mld");
  EXPECT_EQ(outputFamilyName(25), nullptr);
  // Short names and numbers still win.
  EXPECT_EQ(findOutputFormat("mld-40")->code, 30);
  EXPECT_EQ(findOutputFormat("59")->code, 59);
  EXPECT_EQ(findOutputFormat("midi"), nullptr);
}

TEST(OutputNames, CloseNamesForTyposAndBeginnings) {
  auto has = [](const std::vector<std::string>& names, const char* name) {
    return std::find(names.begin(), names.end(), name) != names.end();
  };
  const auto typo = closeOutputNames("mdl");
  EXPECT_TRUE(has(typo, "mld")) << typo.size();  // two letters swapped: one typing error
  EXPECT_FALSE(has(typo, "mid"));                // two letters wrong in three
  EXPECT_TRUE(has(closeOutputNames("mmf16"), "mmf16j"));
  const auto start = closeOutputNames("mld-pcm");
  EXPECT_TRUE(has(start, "mld-pcm16"));
  EXPECT_TRUE(has(start, "mld-pcm24so"));
  EXPECT_FALSE(has(start, "mmf40"));
  EXPECT_EQ(start.front().rfind("mld-pcm", 0), 0u);  // beginnings first
  EXPECT_TRUE(closeOutputNames("zzzzzzzz").empty());
  EXPECT_TRUE(closeOutputNames("").empty());
}

}  // namespace
}  // namespace vlm
