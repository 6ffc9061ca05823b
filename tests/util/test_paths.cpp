// Where the programs find their read-only files: beside themselves in a build tree, in
// share/vlmplay beside bin/ in an install, wherever that install was moved.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "test_util.h"
#include "util/paths.h"

namespace vlm {
namespace {

namespace fs = std::filesystem;

void touch(const fs::path& path) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << "x";
}

TEST(ReadOnlyFiles, BuildTreeInstallAndSiblingFoldersAreFound) {
  test::ScratchDir scratch;
  const fs::path root = scratch.path();
  // An install: PREFIX/bin/vlmplay and PREFIX/share/vlmplay/{data,help}.
  const std::string bin = (root / "prefix" / "bin").string() + "/";
  fs::create_directories(bin);
  touch(root / "prefix/share/vlmplay/data/mldname.dat");
  touch(root / "prefix/share/vlmplay/help/vlmplay.html");
  EXPECT_EQ(findReadOnlyIn(bin, "data"), bin + "../share/vlmplay/data");
  EXPECT_EQ(findReadOnlyIn(bin, "help/vlmplay.html"), bin + "../share/vlmplay/help/vlmplay.html");
  EXPECT_EQ(findReadOnlyIn(bin, "help/missing.txt"), "");

  // The same install moved elsewhere still finds its files.
  fs::rename(root / "prefix", root / "moved");
  const std::string moved = (root / "moved" / "bin").string() + "/";
  EXPECT_EQ(findReadOnlyIn(moved, "data"), moved + "../share/vlmplay/data");

  // A build tree: bin/ holds the files beside the programs, and a test program in tests/ finds
  // them in bin/ beside its own folder. Files beside the program win over an install's.
  touch(root / "build/bin/data/mldname.dat");
  touch(root / "build/share/vlmplay/data/mldname.dat");
  fs::create_directories(root / "build/tests");
  const std::string built = (root / "build" / "bin").string() + "/";
  EXPECT_EQ(findReadOnlyIn(built, "data"), built + "data");
  const std::string tests = (root / "build" / "tests").string() + "/";
  EXPECT_EQ(findReadOnlyIn(tests, "data"), tests + "../bin/data");

  EXPECT_EQ(findReadOnlyIn("", "data"), "");
}

TEST(ReadOnlyFiles, TheRunningTestFindsTheBuildTreesData) {
  const std::string data = findDataDir();
  ASSERT_FALSE(data.empty());
  EXPECT_TRUE(fs::exists(data + "mldname.dat")) << data;
}

}  // namespace
}  // namespace vlm
