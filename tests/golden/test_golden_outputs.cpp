// The golden set: every song of tests/golden/inputs converted to every output code must give the
// bytes stored in tests/golden/outputs/CODE/. Work on speed or structure may never change one of
// them; a change of behaviour that is meant to change outputs regenerates the set with
//   VLM_GOLDEN_UPDATE=1 build/tests/test_golden
// and the commit says which outputs changed and why.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "test_util.h"
#include "writer_contract.h"

namespace vlm {
namespace {

namespace fs = std::filesystem;
using test::readBytes;
using test::ScratchDir;

const fs::path GOLDEN_DIR = fs::path(VLM_SOURCE_DIR) / "tests" / "golden";


bool updating() {
  const char* v = std::getenv("VLM_GOLDEN_UPDATE");
  return v && *v && std::string(v) != "0";
}

std::vector<std::string> inputFiles() {
  std::vector<std::string> files;
  for (const auto& e : fs::directory_iterator(GOLDEN_DIR / "inputs"))
    if (e.is_regular_file()) files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

std::map<std::string, std::vector<uint8_t>> filesIn(const fs::path& dir) {
  std::map<std::string, std::vector<uint8_t>> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec))
    if (e.is_regular_file()) files[e.path().filename().string()] = readBytes(e.path().string());
  return files;
}

// Runs one batch conversion of every input; even codes use two workers, so that the batch with
// -j gives the same bytes as one worker.
void convertAll(int code, const ScratchDir& scratch, const fs::path& outDir) {
  const std::string ini = scratch.file("empty.ini");
  test::writeText(ini, "");
  std::string command = test::vlmconvProgram() + " convert --ini '" + ini + "' --to " +
                        std::to_string(code) + " -d '" + outDir.string() + "' --force -j " +
                        (code % 2 ? "1" : "2");
  for (const std::string& f : inputFiles()) command += " '" + f + "'";
  command += " >/dev/null 2>&1 </dev/null";
  fs::create_directories(outDir);
  const int raw = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(raw)) << command;  // failed inputs are fine; a crash is not
}

size_t firstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return i;
  return n;
}

class GoldenOutputs : public ::testing::TestWithParam<int> {};

TEST_P(GoldenOutputs, EveryInputGivesTheStoredBytes) {
  const int code = GetParam();
  ScratchDir scratch;
  const fs::path outDir = fs::path(scratch.path()) / "out";
  convertAll(code, scratch, outDir);
  const auto actual = filesIn(outDir);
  const fs::path goldenDir = GOLDEN_DIR / "outputs" / std::to_string(code);

  if (updating()) {
    fs::remove_all(goldenDir);
    fs::create_directories(goldenDir);
    for (const auto& [name, bytes] : actual)
      fs::copy_file(outDir / name, goldenDir / name, fs::copy_options::overwrite_existing);
    GTEST_SKIP() << "golden outputs of code " << code << " rewritten";
  }

  const auto expected = filesIn(goldenDir);
  ASSERT_FALSE(expected.empty()) << "no golden outputs for code " << code;
  for (const auto& [name, bytes] : expected) {
    auto it = actual.find(name);
    if (it == actual.end()) {
      ADD_FAILURE() << code << "/" << name << ": not written";
      continue;
    }
    if (it->second != bytes) {
      const size_t at = firstDifference(it->second, bytes);
      const fs::path kept = fs::temp_directory_path() / ("vlm-golden-" + std::to_string(code));
      fs::create_directories(kept);
      fs::copy_file(outDir / name, kept / name, fs::copy_options::overwrite_existing);
      ADD_FAILURE() << code << "/" << name << ": differs at byte " << at << " ("
                    << it->second.size() << " bytes, golden " << bytes.size() << "); written to "
                    << (kept / name);
    }
  }
  for (const auto& [name, bytes] : actual)
    EXPECT_TRUE(expected.count(name)) << code << "/" << name << ": written but not in the set";
}

INSTANTIATE_TEST_SUITE_P(EveryOutputCode, GoldenOutputs, ::testing::ValuesIn(test::codesWithWriters()),
                         [](const auto& info) { return "code" + std::to_string(info.param); });

}  // namespace
}  // namespace vlm
