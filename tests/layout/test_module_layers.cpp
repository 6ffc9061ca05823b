// The pipeline's folders are layers: the event stream (core/), which declares the stage contract
// and the format codes but calls no stage, and the small libraries under it (util/, formats/,
// platform/) include nothing of the stages' folders; the readers, the transform and the writers
// know only those and never each other; the run (convert/), playback and the programs
// sit on top. A project include that crosses a layer the wrong way fails here, naming the file
// and the line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The folders each folder may include from, besides itself.
const std::map<std::string, std::set<std::string>> ALLOWED = {
    {"util", {}},
    {"core", {"util"}},
    {"formats", {"core", "util"}},
    {"platform", {"core", "util"}},
    {"synth", {"core", "util", "formats"}},
    {"readers", {"core", "util", "formats"}},
    {"transform", {"core", "util", "formats"}},
    {"writers", {"core", "util", "formats"}},
    {"convert", {"core", "util", "formats", "platform", "readers", "transform", "writers"}},
};

struct Include {
  std::string file;
  int line;
  std::string folder;  // the first part of the included path
};

std::vector<Include> projectIncludes(const fs::path& folder) {
  static const std::regex INCLUDE(R"(^\s*#\s*include\s*"([a-z_]+)/[^"]+")");
  std::vector<Include> out;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    const std::string ext = e.path().extension().string();
    if (!e.is_regular_file() || (ext != ".cpp" && ext != ".h")) continue;
    std::ifstream in(e.path());
    std::string text;
    for (int line = 1; std::getline(in, text); ++line) {
      std::smatch m;
      if (std::regex_search(text, m, INCLUDE)) out.push_back({e.path().string(), line, m[1]});
    }
  }
  return out;
}

TEST(ModuleLayers, NoFolderIncludesALayerAboveOrBesideIt) {
  const fs::path root(VLM_SOURCE_DIR);
  for (const auto& [folder, allowed] : ALLOWED) {
    ASSERT_TRUE(fs::is_directory(root / folder)) << folder;
    for (const Include& inc : projectIncludes(root / folder)) {
      if (inc.folder == folder || !fs::is_directory(root / inc.folder)) continue;
      EXPECT_TRUE(allowed.count(inc.folder))
          << inc.file << ":" << inc.line << " includes " << inc.folder << "/";
    }
  }
}

TEST(ModuleLayers, TestFilesFollowOneNamingPattern) {
  static const std::regex TEST_FILE(R"(test_[a-z0-9_]+\.cpp)");
  const fs::path tests = fs::path(VLM_SOURCE_DIR) / "tests";
  for (const auto& e : fs::recursive_directory_iterator(tests)) {
    if (!e.is_regular_file() || e.path().extension() != ".cpp") continue;
    EXPECT_TRUE(std::regex_match(e.path().filename().string(), TEST_FILE)) << e.path();
  }
}

}  // namespace
