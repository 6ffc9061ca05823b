// Voice-name tables: line ends, the 22-byte cut, missing lines and files, and the shipped data.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/voice_names.h"
#include "platform/text.h"
#include "test_util.h"
#include "util/paths.h"

namespace vlm {
namespace {

void parse(const std::string& text, VoiceNameTable& table) {
  parseVoiceNames(reinterpret_cast<const uint8_t*>(text.data()), text.size(), table);
}

TEST(VoiceNames, LineEndsCutsAndMissingLines) {
  static VoiceNameTable t;
  parse("one\rtwo\nthree\r\n\r\nfive\n\nseven", t);
  EXPECT_STREQ(t[0], "one");
  EXPECT_STREQ(t[1], "two");
  EXPECT_STREQ(t[2], "three");
  EXPECT_STREQ(t[3], "");  // an empty line is an empty name, not skipped
  EXPECT_STREQ(t[4], "five");
  EXPECT_STREQ(t[5], "");
  EXPECT_STREQ(t[6], "seven");
  EXPECT_STREQ(t[7], "");
  EXPECT_STREQ(t[127], "");

  // Longer lines are cut to 22 bytes; a double-byte character is never split.
  const std::string kanji = utf8ToSjis("尺");
  ASSERT_EQ(kanji.size(), 2u);
  parse(std::string(30, 'a') + "\n" + std::string(21, 'b') + kanji + "c\n" + std::string(20, 'd') +
            kanji + "e",
        t);
  EXPECT_EQ(std::string(t[0]), std::string(22, 'a'));
  EXPECT_EQ(std::string(t[1]), std::string(21, 'b'));
  EXPECT_EQ(std::string(t[2]), std::string(20, 'd') + kanji);

  // Only 128 lines count; a parse replaces every earlier name.
  std::string many;
  for (int i = 0; i < 200; ++i) many += "n" + std::to_string(i) + "\r\n";
  parse(many, t);
  EXPECT_STREQ(t[127], "n127");
  parse("", t);
  EXPECT_STREQ(t[0], "");
  parseVoiceNames(nullptr, 5, t);
  EXPECT_STREQ(t[0], "");
}

TEST(VoiceNames, MissingFilesGiveEmptyNames) {
  test::ScratchDir dir;
  test::writeText(dir.file("dramname.dat"), "\r\n\r\nthird\r\n");
  EXPECT_EQ(loadVoiceNames(dir.path()), 1);
  EXPECT_STREQ(drumName(2), "third");
  EXPECT_STREQ(mldVoiceName(0), "");
  EXPECT_STREQ(dxmVoiceName(5), "");
  EXPECT_EQ(loadVoiceNames(dir.file("none/")), 0);
  EXPECT_STREQ(drumName(2), "");
  EXPECT_STREQ(mldVoiceName(-1), "");
  EXPECT_STREQ(drumName(128), "");
}

TEST(VoiceNames, ShippedTables) {
  const std::string data = findDataDir();
  ASSERT_FALSE(data.empty());
  EXPECT_EQ(data.back(), '/');
  EXPECT_EQ(programDirectory().back(), '/');
  ASSERT_EQ(loadVoiceNames(data), 3);
  EXPECT_EQ(sjisToUtf8(mldVoiceName(0)), "ｱｺｰｽﾃｨｯｸﾋﾟｱﾉ");
  EXPECT_EQ(sjisToUtf8(mldVoiceName(127)), "銃声");
  EXPECT_EQ(sjisToUtf8(drumName(36)), "ﾊﾞｽﾄﾞﾗﾑ1");
  EXPECT_STREQ(drumName(0), "");
  EXPECT_STREQ(drumName(100), "");
  for (int i = 0; i < VOICE_NAME_COUNT; ++i) {
    EXPECT_GT(std::strlen(mldVoiceName(i)), 0u) << i;
    EXPECT_GT(std::strlen(dxmVoiceName(i)), 0u) << i;
    EXPECT_EQ(sjisToUtf8(mldVoiceName(i)).find('?'), std::string::npos) << i;
  }
}

}  // namespace
}  // namespace vlm
