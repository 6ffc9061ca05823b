// Batch conversion as people run it: the whole vlmconv process converting a folder of 1,000
// ringtone-sized Standard MIDI Files (2 to 20 KB) to i-melody, outputs into a new folder on the
// same disk, with one and with two worker threads. Reports files per second. The program is
// $VLMCONV, else bin/vlmconv of the build folder this benchmark lives in.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "stream_builders.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using vlm::test::appendBE;
using vlm::test::appendVarLen;

constexpr int CORPUS_FILES = 1000;

// A format-1 song of 1 to 8 tracks with a tempo, a program per track and note pairs, grown
// to `target` bytes.
std::vector<uint8_t> makeRingtone(uint32_t& seed, size_t target) {
  auto rnd = [&seed](uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % n;
  };
  const int tracks = 1 + int(rnd(8));
  std::vector<uint8_t> smf = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, uint8_t(tracks), 0x01, 0xE0};
  for (int t = 0; t < tracks; ++t) {
    const uint8_t ch = uint8_t(t < 9 ? t : t + 1);
    std::vector<uint8_t> body;
    if (t == 0) body.insert(body.end(), {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20});
    body.insert(body.end(), {0x00, uint8_t(0xC0 | ch), uint8_t(rnd(128))});
    while (body.size() + 4 < target / size_t(tracks)) {
      const uint8_t note = uint8_t(48 + rnd(37));
      appendVarLen(body, rnd(3) == 0 ? 0 : 120 * (1 + rnd(2)));
      body.insert(body.end(), {uint8_t(0x90 | ch), note, uint8_t(60 + rnd(61))});
      appendVarLen(body, 30 + rnd(171));
      body.insert(body.end(), {uint8_t(0x80 | ch), note, 0});
    }
    body.insert(body.end(), {0x00, 0xFF, 0x2F, 0x00});
    smf.insert(smf.end(), {'M', 'T', 'r', 'k'});
    appendBE(smf, uint32_t(body.size()), 4);
    smf.insert(smf.end(), body.begin(), body.end());
  }
  return smf;
}

struct Corpus {
  fs::path root;
  fs::path input;
  Corpus() {
    // Under $TMPDIR when set, so that the disk can be chosen.
    std::string tmpl = (fs::temp_directory_path() / "vlmbench-batch-XXXXXX").string();
    if (const char* dir = ::mkdtemp(tmpl.data())) root = dir;
    input = root / "in";
    fs::create_directories(input);
    uint32_t seed = 7;
    for (int i = 0; i < CORPUS_FILES; ++i) {
      seed = seed * 1103515245u + 12345u;
      const size_t size = 2048 + (seed >> 8) % (18 * 1024 + 1);
      const std::vector<uint8_t> song = makeRingtone(seed, size);
      char name[32];
      std::snprintf(name, sizeof name, "song%04d.mid", i);
      if (std::FILE* f = std::fopen((input / name).c_str(), "wb")) {
        std::fwrite(song.data(), 1, song.size(), f);
        std::fclose(f);
      }
    }
  }
  ~Corpus() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
};

Corpus& corpus() {
  static Corpus c;
  return c;
}

std::string vlmconvPath() {
  if (const char* env = std::getenv("VLMCONV"); env && *env) return env;
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return (self.parent_path().parent_path() / "bin" / "vlmconv").string();
}

int runProcess(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  if (::waitpid(pid, &status, 0) < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// One iteration: a new output folder and the whole process. The output folders stay until the
// corpus is removed at the end: ext4 skips the inodes of files deleted in the last minutes when
// it allocates new ones, by reading their inode table blocks, so removing each iteration's
// thousand outputs made the next iterations measure the file system's search instead of the
// conversion (the same binary measured 1.9 times slower one run later).
void BM_BatchToImelody(benchmark::State& state) {
  Corpus& c = corpus();
  const std::string exe = vlmconvPath();
  static int iteration = 0;  // across both thread counts, so no folder is used twice
  for (auto _ : state) {
    const fs::path out = c.root / ("out" + std::to_string(iteration++));
    const int status = runProcess({exe, "convert", "--to", "mld", "-d", out.string(), "-j",
                                   std::to_string(state.range(0)), c.input.string()});
    if (status != 0) state.SkipWithError(("vlmconv failed: " + exe).c_str());
  }
  state.counters["files_per_second"] = benchmark::Counter(
      double(CORPUS_FILES) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BatchToImelody)
    ->ArgName("j")
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

}  // namespace
