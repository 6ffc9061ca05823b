// The private-profile module: Windows semantics over our own ini reader and writer.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/profile.h"
#include "test_util.h"
#include "util/files.h"
#include "util/memblock.h"

namespace vlm {
namespace {

class Profile : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(scratch.path().empty()); }
  void put(const std::string& content) const {
    ASSERT_EQ(saveFile(ini.c_str(), content.data(), content.size()), 1);
  }
  std::string content() const {
    uint8_t* data = nullptr;
    int32_t size = 0;
    void* h = loadFile(ini.c_str(), &data, &size);
    if (!h) return "";
    std::string s(reinterpret_cast<char*>(data), size);
    freeBlock(h);
    return s;
  }
  std::string read(const char* section, const char* key, const char* fallback = "<none>") {
    return readProfileString(section, key, fallback, ini.c_str());
  }
  test::ScratchDir scratch;
  const std::string dir = scratch.path();
  const std::string ini = dir + "/test.ini";
};

// Saves and restores one environment variable around a test.
struct EnvGuard {
  std::string name;
  bool had;
  std::string value;
  explicit EnvGuard(const char* n) : name(n) {
    const char* v = std::getenv(n);
    had = v != nullptr;
    if (v) value = v;
  }
  ~EnvGuard() {
    if (had)
      ::setenv(name.c_str(), value.c_str(), 1);
    else
      ::unsetenv(name.c_str());
  }
};

TEST_F(Profile, MissingFileGivesDefaults) {
  EXPECT_EQ(read("vlmplay", "key", "dflt"), "dflt");
  EXPECT_EQ(read("vlmplay", "key", nullptr), "");
  EXPECT_EQ(readProfileInt("vlmplay", "n", 42, ini.c_str()), 42);
  char out[8] = "xxxxxxx";
  EXPECT_EQ(readProfileString("s", "k", "abc", out, sizeof out, ini.c_str()), 3u);
  EXPECT_STREQ(out, "abc");
  EXPECT_FALSE(pathExists(ini.c_str()));  // reading never creates the file
}

TEST_F(Profile, RoundTripWithShiftJisAndCaseInsensitiveNames) {
  // "メロディ" and "表示" in Shift-JIS; 0x95 0x5C ends in a byte that looks like a backslash.
  const std::string melody = "\x83\x81\x83\x8D\x83\x66\x83\x42";
  const std::string hyouji = "\x95\x5C\x8E\xA6";
  ASSERT_TRUE(writeProfileString("VlmPlay", "Title", melody.c_str(), ini.c_str()));
  ASSERT_TRUE(writeProfileString("vlmplay", "path", hyouji.c_str(), ini.c_str()));
  EXPECT_EQ(read("VLMPLAY", "TITLE"), melody);
  EXPECT_EQ(read("vlmPlay", "Path"), hyouji);
  EXPECT_EQ(content(), "[VlmPlay]\nTitle=" + melody + "\npath=" + hyouji + "\n");
  // Overwriting through another spelling replaces the one entry.
  ASSERT_TRUE(writeProfileString("VLMPLAY", "title", "x", ini.c_str()));
  EXPECT_EQ(content(), "[VlmPlay]\nTitle=x\npath=" + hyouji + "\n");
  char out[4];
  EXPECT_EQ(readProfileString("vlmplay", "path", "", out, sizeof out, ini.c_str()), 3u);
  EXPECT_EQ(std::string(out), hyouji.substr(0, 3));
}

TEST_F(Profile, Integers) {
  put("[s]\na=12ab\nb=ab\nc=-7\nd=+3\ne=\nf= 99 \ng=99999999999\nh=-99999999999\n");
  EXPECT_EQ(readProfileInt("s", "a", 5, ini.c_str()), 12);
  EXPECT_EQ(readProfileInt("s", "b", 5, ini.c_str()), 0);
  EXPECT_EQ(readProfileInt("s", "c", 5, ini.c_str()), -7);
  EXPECT_EQ(readProfileInt("s", "d", 5, ini.c_str()), 3);
  EXPECT_EQ(readProfileInt("s", "e", 5, ini.c_str()), 0);  // present but empty
  EXPECT_EQ(readProfileInt("s", "f", 5, ini.c_str()), 99);
  EXPECT_EQ(readProfileInt("s", "g", 5, ini.c_str()), 2147483647);
  EXPECT_EQ(readProfileInt("s", "h", 5, ini.c_str()), -2147483647 - 1);
  EXPECT_EQ(readProfileInt("s", "zz", 5, ini.c_str()), 5);
  EXPECT_EQ(readProfileInt("other", "a", 5, ini.c_str()), 5);
  ASSERT_TRUE(writeProfileInt("s", "b", -40, ini.c_str()));
  EXPECT_EQ(read("s", "b"), "-40");
  EXPECT_EQ(readProfileInt("s", "b", 5, ini.c_str()), -40);
}

TEST_F(Profile, ValuesAreTrimmedAndUnquoted) {
  put("  [ sec ]  \n  key  =  some value  \nq=\"quoted  \"\nr='x'\ns=\"half\n");
  EXPECT_EQ(read("sec", "key"), "some value");
  EXPECT_EQ(read("sec", "q"), "quoted  ");
  EXPECT_EQ(read("sec", "r"), "x");
  EXPECT_EQ(read("sec", "s"), "\"half");
}

TEST_F(Profile, WritesKeepOtherLinesAndOrder) {
  const std::string original = "; settings\n[first]\nb=2\na=1\n\n[second]\nx=9\n\n; tail comment\n";
  put(original);
  ASSERT_TRUE(writeProfileString("first", "c", "3", ini.c_str()));
  EXPECT_EQ(content(), "; settings\n[first]\nb=2\na=1\nc=3\n\n[second]\nx=9\n\n; tail comment\n");
  ASSERT_TRUE(writeProfileString("third", "k", "v", ini.c_str()));
  EXPECT_EQ(
      content(),
      "; settings\n[first]\nb=2\na=1\nc=3\n\n[second]\nx=9\n\n; tail comment\n[third]\nk=v\n");
  ASSERT_TRUE(writeProfileString("first", "b", nullptr, ini.c_str()));  // delete
  EXPECT_EQ(read("first", "b"), "<none>");
  EXPECT_EQ(read("first", "a"), "1");
  ASSERT_TRUE(writeProfileString("first", "nothing", nullptr, ini.c_str()));
  ASSERT_TRUE(writeProfileString("second", nullptr, nullptr, ini.c_str()));  // whole section
  EXPECT_EQ(content(), "; settings\n[first]\na=1\nc=3\n\n[third]\nk=v\n");
  EXPECT_FALSE(writeProfileString(nullptr, "k", "v", ini.c_str()));
}

TEST_F(Profile, KeysBeforeAnySectionAndDuplicates) {
  put("stray=1\n[s]\nk=first\nk=second\n[S]\nk=third\n");
  EXPECT_EQ(read("s", "stray"), "<none>");
  EXPECT_EQ(read("s", "k"), "first");  // the first section and entry win, as on Windows
}

TEST_F(Profile, CrLfFileStaysCrLf) {
  put("[s]\r\na=1\r\n");
  EXPECT_EQ(read("s", "a"), "1");
  ASSERT_TRUE(writeProfileString("s", "b", "2", ini.c_str()));
  EXPECT_EQ(content(), "[s]\r\na=1\r\nb=2\r\n");
}

TEST_F(Profile, NoFinalLineEnd) {
  put("[s]\na=1");
  ASSERT_TRUE(writeProfileString("s", "b", "2", ini.c_str()));
  EXPECT_EQ(content(), "[s]\na=1\nb=2\n");
  put("[s]\na=1");
  ASSERT_TRUE(writeProfileString("t", "b", "2", ini.c_str()));
  EXPECT_EQ(content(), "[s]\na=1\n[t]\nb=2\n");
}

TEST_F(Profile, PathOfABareNameAndFolderMadeOnWrite) {
  EnvGuard config("XDG_CONFIG_HOME");
  EnvGuard home("HOME");
  ::setenv("XDG_CONFIG_HOME", (dir + "/cfg").c_str(), 1);
  EXPECT_EQ(profilePath("vlmplay.ini"), dir + "/cfg/vlmplay/vlmplay.ini");
  EXPECT_EQ(profilePath("/etc/x.ini"), "/etc/x.ini");
  EXPECT_EQ(profilePath("sub/x.ini"), "sub/x.ini");
  EXPECT_EQ(readProfileInt("vlmplay", "k", 7, "vlmplay.ini"), 7);
  ASSERT_TRUE(writeProfileInt("vlmplay", "k", 8, "vlmplay.ini"));
  EXPECT_TRUE(isDirectory((dir + "/cfg/vlmplay").c_str()));
  EXPECT_EQ(readProfileInt("VLMPLAY", "K", 7, "vlmplay.ini"), 8);
  ::unsetenv("XDG_CONFIG_HOME");
  ::setenv("HOME", (dir + "/home").c_str(), 1);
  EXPECT_EQ(profilePath("vlmplay.ini"), dir + "/home/.config/vlmplay/vlmplay.ini");
  ::setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
  EXPECT_EQ(profilePath("a.ini"), dir + "/home/.config/vlmplay/a.ini");
}

TEST_F(Profile, BatchWritesOnceAtTheEnd) {
  put("[s]\na=1\n");
  {
    ProfileBatch batch(ini.c_str());
    for (int i = 0; i < 50; ++i)
      ASSERT_TRUE(writeProfileInt("s", ("k" + std::to_string(i)).c_str(), i, ini.c_str()));
    EXPECT_EQ(readProfileInt("s", "k49", -1, ini.c_str()), 49);  // the pending content
    EXPECT_EQ(content(), "[s]\na=1\n");                          // not yet on disk
    {
      ProfileBatch inner(ini.c_str());
      ASSERT_TRUE(writeProfileString("s", "a", nullptr, ini.c_str()));
    }
    EXPECT_EQ(content(), "[s]\na=1\n");  // the outermost batch writes
  }
  const std::string c = content();
  EXPECT_EQ(c.find("a=1"), std::string::npos);
  EXPECT_NE(c.find("k0=0\nk1=1\n"), std::string::npos);
  EXPECT_EQ(readProfileInt("s", "k49", -1, ini.c_str()), 49);
  {
    ProfileBatch batch(ini.c_str());
    ASSERT_TRUE(writeProfileInt("s", "x", 1, ini.c_str()));
    EXPECT_TRUE(batch.flush());
    EXPECT_EQ(readProfileInt("s", "x", -1, (dir + "/./test.ini").c_str()), 1);  // on disk now
  }
}

TEST_F(Profile, LongPathsForTheFileAndItsValues) {
  std::string folder = dir;
  for (char c = 'a'; folder.size() < 800; ++c) folder += "/" + std::string(200, c);
  ASSERT_EQ(::system(("mkdir -p '" + folder + "'").c_str()), 0);
  const std::string file = folder + "/vlmplay.ini";
  const std::string value = folder + "/songs/" + std::string(200, 'z') + ".mid";
  ASSERT_TRUE(writeProfileString("section", "histfile1", value.c_str(), file.c_str()));
  EXPECT_EQ(readProfileString("section", "histfile1", "", file.c_str()), value);
}

}  // namespace
}  // namespace vlm
