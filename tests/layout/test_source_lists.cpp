// The build names every source in a list of its folder's CMakeLists.txt. A .cpp file that no
// list names is compiled into nothing, without a word from the build: this test names it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;

// Every source the configured build lists (absolute paths, one per line).
std::set<std::string> listedSources() {
  std::set<std::string> listed;
  std::ifstream in(VLM_SOURCE_LISTS);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) listed.insert(line);
  return listed;
}

TEST(SourceLists, EveryCppFileOfTheTreeIsInAList) {
  const std::set<std::string> listed = listedSources();
  ASSERT_FALSE(listed.empty()) << VLM_SOURCE_LISTS;
  const fs::path root(VLM_SOURCE_DIR);
  int seen = 0;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    const fs::path& path = it->path();
    // Hidden folders and build trees (CMake's own .cpp files and moc output live there).
    if (it->is_directory() &&
        (path.filename().string().starts_with(".") || fs::exists(path / "CMakeCache.txt"))) {
      it.disable_recursion_pending();
      continue;
    }
    if (!it->is_regular_file() || path.extension() != ".cpp") continue;
    ++seen;
    EXPECT_TRUE(listed.count(path.lexically_normal().string()))
        << fs::relative(path, root).string()
        << " is in no source list: add it to the CMakeLists.txt of its folder";
  }
  EXPECT_GT(seen, 0);
}

}  // namespace
