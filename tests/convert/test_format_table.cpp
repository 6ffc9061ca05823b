// The format table is the one place that knows a format: these tests walk every row and check that
// it says all that detection, the dialogs, the menus and the run read from it, so that a row
// added without one of its parts fails here instead of in a menu or a batch.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "convert/conversion_run.h"
#include "convert/format_table.h"
#include "core/run_state.h"
#include "test_util.h"

namespace vlm {
namespace {

struct Extension {
  std::string name;
  bool byMagic;
};

std::vector<Extension> extensionsOf(const InputFormat& format) {
  std::vector<Extension> out;
  std::istringstream words(format.extensions ? format.extensions : "");
  for (std::string word; words >> word;) {
    const bool byMagic = word.back() == '?';
    if (byMagic) word.pop_back();
    out.push_back({word, byMagic});
  }
  return out;
}

bool isLowerExtension(const std::string& ext) {
  if (ext.size() < 2 || ext[0] != '.') return false;
  for (size_t i = 1; i < ext.size(); ++i)
    if (!std::islower(uint8_t(ext[i])) && !std::isdigit(uint8_t(ext[i]))) return false;
  return true;
}

TEST(FormatTable, EveryInputRowIsComplete) {
  int count = 0;
  const InputFormat* formats = inputFormats(&count);
  ASSERT_GT(count, 0);
  std::set<FormatCode> codes;
  std::map<std::string, FormatCode> plainOwner;
  for (int i = 0; i < count; ++i) {
    const InputFormat& f = formats[i];
    SCOPED_TRACE(f.code);
    EXPECT_GT(f.code, 0);
    EXPECT_TRUE(codes.insert(f.code).second) << "code listed twice";
    EXPECT_TRUE(f.name && *f.name);
    EXPECT_TRUE(f.reader || f.code == FORMAT_VLM) << "no reader";
    const std::vector<Extension> extensions = extensionsOf(f);
    EXPECT_FALSE(extensions.empty()) << "detection cannot find it";
    bool anyByMagic = false;
    for (const Extension& e : extensions) {
      EXPECT_TRUE(isLowerExtension(e.name)) << e.name;
      anyByMagic |= e.byMagic;
      // One extension, one format that takes it whatever the file holds.
      if (!e.byMagic) {
        auto [at, fresh] = plainOwner.emplace(e.name, f.code);
        EXPECT_TRUE(fresh) << e.name << " is also claimed by " << at->second;
      }
    }
    EXPECT_EQ(anyByMagic, f.magic != nullptr) << "magic bytes and '?' extensions go together";
    if (f.magic) EXPECT_EQ(std::strlen(f.magic), 4u);
  }
}

// Each extension of a row, with the row's magic where it needs one, is detected as the row.
TEST(FormatTable, DetectionFollowsTheRows) {
  test::ScratchDir dir;
  int count = 0;
  const InputFormat* formats = inputFormats(&count);
  for (int i = 0; i < count; ++i) {
    for (const Extension& e : extensionsOf(formats[i])) {
      std::vector<uint8_t> bytes = {'x', 'x', 'x', 'x', 0};
      if (e.byMagic) std::memcpy(bytes.data(), formats[i].magic, 4);
      const std::string path = dir.file("song" + std::to_string(i) + e.name);
      test::writeBytes(path, bytes);
      EXPECT_EQ(detectFormat(path.c_str()), formats[i].code) << e.name;
    }
  }
}

// Both ways between the setup tool's file types and the input rows: every type is some row's,
// takes only extensions its rows detect, and every row that associates names a type.
TEST(FormatTable, EveryFileTypeBelongsToInputRowsThatDetectItsExtensions) {
  int count = 0;
  const InputFormat* formats = inputFormats(&count);
  const std::vector<const FileType*> types = fileTypes();
  ASSERT_FALSE(types.empty());
  std::set<int> boxes;
  std::set<std::string> taken;
  for (const FileType* type : types) {
    SCOPED_TRACE(type->checkBox);
    EXPECT_TRUE(boxes.insert(type->checkBox).second) << "check box listed twice";
    EXPECT_TRUE(type->label && *type->label && type->comment && *type->comment);
    if (type->magic) EXPECT_EQ(std::strlen(type->magic), 4u);
    int rows = 0;
    for (int i = 0; i < count; ++i) {
      if (formats[i].fileType != type) continue;
      ++rows;
      ASSERT_NE(formats[i].associated, nullptr);
      std::istringstream words(formats[i].associated);
      int extensions = 0;
      for (std::string word; words >> word; ++extensions) {
        EXPECT_TRUE(taken.insert(word).second) << word << " is in two file types";
        bool detected = false;
        for (const Extension& e : extensionsOf(formats[i])) detected |= e.name == word;
        EXPECT_TRUE(detected) << word << " is not an extension of input " << formats[i].code;
      }
      EXPECT_GT(extensions, 0);
    }
    EXPECT_GT(rows, 0);
  }
  for (int i = 0; i < count; ++i)
    EXPECT_EQ(formats[i].associated != nullptr, formats[i].fileType != nullptr) << formats[i].code;
}

TEST(FormatTable, EveryOutputRowIsComplete) {
  int count = 0;
  const OutputFormat* formats = outputFormats(&count);
  std::set<FormatCode> codes;
  std::set<int> commands;
  std::set<std::string> names;
  std::set<std::pair<int, int>> places;
  for (int i = 0; i < count; ++i) {
    const OutputFormat& f = formats[i];
    SCOPED_TRACE(f.code);
    EXPECT_TRUE(codes.insert(f.code).second) << "code listed twice";
    EXPECT_TRUE(commands.insert(f.command).second) << "command id listed twice";
    ASSERT_TRUE(f.shortName && *f.shortName);
    EXPECT_TRUE(names.insert(f.shortName).second) << "short name listed twice";
    EXPECT_NE(f.label, nullptr);
    const bool keepsBytes = f.code == OUTPUT_COPY || f.code == OUTPUT_MAIL;
    if (keepsBytes) {
      EXPECT_EQ(f.writer, nullptr);
      continue;
    }
    EXPECT_GT(f.code, 0);
    EXPECT_NE(f.writer, nullptr) << "no writer";
    ASSERT_NE(f.extension, nullptr);
    EXPECT_TRUE(isLowerExtension(f.extension)) << f.extension;
    EXPECT_GT(f.dialog, 0) << "no settings dialog";
    // A labelled output is a convert menu item, at a place of its own; a command-only one
    // (no label) is in no menu.
    EXPECT_EQ(*f.label != '\0', f.menu.group != CONVERT_GROUP_NONE) << "menu place and label";
    if (f.menu.group != CONVERT_GROUP_NONE)
      EXPECT_TRUE(places.insert({f.menu.group, f.menu.order}).second) << "menu place taken twice";
    EXPECT_EQ(f.mailTextLimit > 0, std::strcmp(f.extension, ".mld") == 0)
        << "melody mail is i-melody's";
    // An output with a size limit also remembers the dialog's timebase, and the other way.
    EXPECT_EQ(f.sizeKey != nullptr, f.timebaseKey != nullptr) << "size key and timebase key";
    EXPECT_EQ(f.preset.oneVoicePerChannel && f.preset.polyphony > 16, false)
        << "one voice per channel holds at most 16 voices";
    // A size key names a settings value that the dialog can set and the run reads back.
    if (f.sizeKey) {
      resetRun();
      setOutputSizeSetting(f, 12345);
      EXPECT_EQ(outputSizeSetting(f), 12345) << f.sizeKey;
    }
    // Every handset but the general MIDI target has a preset of its own.
    if (f.code != FORMAT_SMF) {
      resetRun();
      applyOutputPreset(f.code);
      EXPECT_FALSE(options.preset == TargetPreset()) << "no handset preset";
    }
  }
  resetRun();
}

// The capability flags and families say what the codes did before they were flags.
TEST(FormatTable, FamiliesAndTraitsOfTheOutputs) {
  EXPECT_TRUE(isImelodyOutput(FORMAT_MLD));
  EXPECT_TRUE(isImelodyOutput(FORMAT_MLD_4P));
  EXPECT_FALSE(isImelodyOutput(FORMAT_PMD));
  EXPECT_FALSE(isImelodyOutput(OUTPUT_MAIL));
  EXPECT_FALSE(isImelodyOutput(99));
  for (FormatCode c :
       {FORMAT_SMAF_EZWEB, FORMAT_SMAF4_EZWEB, FORMAT_PMD, FORMAT_PMD16B, FORMAT_PMD3}) {
    EXPECT_TRUE(hasOutputTrait(c, OUT_EZWEB)) << c;
    resetRun();
    applyOutputPreset(c);
    EXPECT_TRUE(options.preset.ezwebTarget) << c;
  }
  EXPECT_FALSE(hasOutputTrait(FORMAT_SMAF, OUT_EZWEB));
  EXPECT_TRUE(hasOutputTrait(FORMAT_SMAF4, OUT_FEW_VOICES));
  EXPECT_FALSE(hasOutputTrait(FORMAT_MLD_40, OUT_FEW_VOICES));
  resetRun();
}

}  // namespace
}  // namespace vlm
