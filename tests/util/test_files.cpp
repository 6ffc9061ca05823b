// Memory blocks, whole-file I/O, temporary files, paths and the command line .
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>

#include "test_util.h"
#include "util/files.h"
#include "util/memblock.h"

namespace vlm {
namespace {

// A fresh directory per test, removed with its content afterwards.
class TempDir : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(dir.empty()); }
  // A test may have taken the write permission away; the scratch folder removes the rest.
  void TearDown() override { ::chmod(dir.c_str(), 0700); }
  std::string path(const char* name) const { return dir + "/" + name; }
  // Files in the directory, temporary ones included.
  size_t entries() const {
    std::error_code ec;
    const std::filesystem::directory_iterator all(dir, ec);
    return size_t(std::distance(begin(all), end(all)));
  }
  static void write(const std::string& p, const std::string& content) {
    FILE* f = std::fopen(p.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
  }
  static std::string read(const std::string& p) {
    uint8_t* data = nullptr;
    int32_t size = 0;
    void* h = loadFile(p.c_str(), &data, &size);
    if (!h) return "<none>";
    std::string s(reinterpret_cast<char*>(data), size);
    freeBlock(h);
    return s;
  }
  test::ScratchDir scratch;
  const std::string dir = scratch.path();
};

TEST(MemBlock, AllocZeroFilledAndCapacity) {
  uint8_t* p = nullptr;
  void* h = allocBlock(&p, 100);
  ASSERT_NE(h, nullptr);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(blockCapacity(h), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(p[i], 0);
  std::memset(p, 0x5A, 100);
  h = reallocBlock(h, &p, 5000);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(blockCapacity(h), 5000u);
  EXPECT_EQ(p[99], 0x5A);  // content kept
  h = reallocBlock(h, &p, 10);
  EXPECT_EQ(blockCapacity(h), 10u);
  EXPECT_EQ(p[9], 0x5A);
  freeBlock(h);
  EXPECT_EQ(blockCapacity(nullptr), 0u);
  freeBlock(nullptr);
}

TEST(MemBlock, InitResizeEnsureFree) {
  MemBlock b;
  ASSERT_EQ(blockInit(&b, 16), 1);
  EXPECT_NE(b.data, nullptr);
  EXPECT_EQ(blockCapacity(b.handle), 16u);
  b.data[3] = 7;
  b.length = 16;
  EXPECT_EQ(blockEnsure(&b, 10, 100), 1);  // big enough: unchanged
  EXPECT_EQ(blockCapacity(b.handle), 16u);
  EXPECT_EQ(blockEnsure(&b, 20, 100), 1);
  EXPECT_EQ(blockCapacity(b.handle), 116u);
  EXPECT_EQ(blockEnsure(&b, 1000, 100), 1);  // grown once only, even if still too small
  EXPECT_EQ(blockCapacity(b.handle), 216u);
  EXPECT_EQ(b.data[3], 7);
  EXPECT_EQ(blockResize(&b, 8), 1);
  EXPECT_EQ(b.length, 8);  // valid content cannot exceed the block
  EXPECT_EQ(blockFree(&b), 1);
  EXPECT_EQ(b.handle, nullptr);
  EXPECT_EQ(b.data, nullptr);
  EXPECT_EQ(blockFree(&b), 0);
  MemBlock e;
  EXPECT_EQ(blockEnsure(&e, 1, 64), 1);  // no block yet: one of the step's size
  EXPECT_EQ(blockCapacity(e.handle), 64u);
  blockFree(&e);
}

TEST(MemBlock, FillsAndCopies) {
  uint8_t b[8];
  fillBytes(b, 0xAB, 8);
  EXPECT_EQ(b[7], 0xAB);
  uint32_t w[4];
  fillWords(w, 0xDEADBEEF, 4);
  EXPECT_EQ(w[3], 0xDEADBEEFu);
  uint32_t v[4] = {1, 2, 3, 4};
  copyWords(w, v, 4);
  EXPECT_EQ(w[2], 3u);
  swapWords(&w[0], &w[3]);
  EXPECT_EQ(w[0], 4u);
  EXPECT_EQ(w[3], 1u);
}

TEST_F(TempDir, LoadFile) {
  write(path("a.bin"), std::string("abc\0def", 7));
  uint8_t* data = nullptr;
  int32_t size = 0;
  void* h = loadFile(path("a.bin").c_str(), &data, &size);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(size, 7);
  EXPECT_EQ(blockCapacity(h), 7u);  // exactly the file size
  EXPECT_EQ(0, std::memcmp(data, "abc\0def", 7));
  freeBlock(h);

  MemBlock b;
  EXPECT_EQ(blockLoadFile(&b, path("a.bin").c_str()), 1);
  EXPECT_EQ(b.length, 7);
  EXPECT_EQ(blockLoadFile(&b, path("missing").c_str()), 0);
  EXPECT_EQ(b.handle, nullptr);
  EXPECT_EQ(blockLoadFile(&b, dir.c_str()), 0);  // a directory is no file
}

TEST_F(TempDir, EmptyFileFails) {
  write(path("empty"), "");
  uint8_t* data = reinterpret_cast<uint8_t*>(1);
  int32_t size = 5;
  EXPECT_EQ(loadFile(path("empty").c_str(), &data, &size), nullptr);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(fileSize(path("empty").c_str()), 0u);
  EXPECT_TRUE(pathExists(path("empty").c_str()));
  EXPECT_EQ(loadFile(path("nothing").c_str(), &data, &size), nullptr);
}

TEST_F(TempDir, SaveFileReplacesContent) {
  const std::string p = path("out.mid");
  write(p, "a much longer old content");
  ASSERT_EQ(saveFile(p.c_str(), "new", 3), 1);
  EXPECT_EQ(read(p), "new");  // truncated, not overlaid
  EXPECT_EQ(fileSize(p.c_str()), 3u);
  ASSERT_EQ(saveFile(p.c_str(), "", 0), 1);
  EXPECT_EQ(fileSize(p.c_str()), 0u);
  EXPECT_TRUE(pathExists(p.c_str()));
  EXPECT_EQ(entries(), 1u);  // no temporary file is left beside it
}

TEST_F(TempDir, SaveFileNewFileModeFollowsUmask) {
  mode_t old = ::umask(027);
  const std::string p = path("fresh.txt");
  ASSERT_EQ(saveFile(p.c_str(), "x", 1), 1);
  ::umask(old);
  struct stat st;
  ASSERT_EQ(::stat(p.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  ::chmod(p.c_str(), 0604);
  ASSERT_EQ(saveFile(p.c_str(), "yy", 2), 1);  // a replaced file keeps its mode
  ASSERT_EQ(::stat(p.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0604u);
}

// Runs `body` in a child process and returns its exit status (or -1 when it did not exit).
template <typename F>
int inChild(F body) {
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Saves 25 bytes to `p` in a child whose file size limit (4 bytes) makes the write itself fail
// half way (EFBIG), for root too; saveFile's result, or 99 when the limit cannot be set.
int saveUnderSizeLimit(const std::string& p) {
  return inChild([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {4, 4};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 99;
    return saveFile(p.c_str(), "a much longer new content", 25);
  });
}

TEST_F(TempDir, SaveFileKeepsOldFileWhenDirectoryNotWritable) {
  const std::string p = path("keep.txt");
  write(p, "precious");
  ASSERT_EQ(::chmod(p.c_str(), 0666), 0);
  ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
  // Root may write anywhere, so the attempt runs as an unprivileged user when we are root.
  const int result = inChild([&] {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return 99;
    if (::access(dir.c_str(), W_OK) == 0) return 98;
    return saveFile(p.c_str(), "lost", 4);
  });
  if (result == 99 || result == 98) GTEST_SKIP() << "cannot make the directory unwritable";
  EXPECT_EQ(result, 0);
  EXPECT_EQ(read(p), "precious");
  EXPECT_EQ(entries(), 1u);
}

TEST_F(TempDir, SaveFileKeepsOldFileWhenWriteFails) {
  const std::string p = path("keep.txt");
  write(p, "precious");
  const int result = saveUnderSizeLimit(p);
  ASSERT_NE(result, 99);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(read(p), "precious");
  EXPECT_EQ(entries(), 1u);  // the temporary file is gone
}

// A new file appears whole or not at all: a write that fails half way leaves no file and no
// temporary file, and many new files saved from two threads into one folder all land whole.
TEST_F(TempDir, NewFilesAppearWholeOrNotAtAll) {
  const std::string p = path("new.txt");
  const int result = saveUnderSizeLimit(p);
  ASSERT_NE(result, 99);
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(pathExists(p.c_str()));
  EXPECT_EQ(entries(), 0u);

  setSaveSync(SaveSync::DEFERRED);
  auto saveMany = [this](int first) {
    for (int i = first; i < 200; i += 2) {
      const std::string content(size_t(i) + 1, char('a' + i % 26));
      saveFile(path(("f" + std::to_string(i)).c_str()).c_str(), content.data(), content.size());
    }
  };
  std::thread other(saveMany, 1);
  saveMany(0);
  other.join();
  EXPECT_EQ(syncSavedFiles(), 1);
  setSaveSync(SaveSync::EACH_FILE);
  for (int i = 0; i < 200; ++i)
    EXPECT_EQ(read(path(("f" + std::to_string(i)).c_str())),
              std::string(size_t(i) + 1, char('a' + i % 26)));
  EXPECT_EQ(entries(), 200u);
}

TEST_F(TempDir, SaveFileFailsIntoMissingDirectoryAndKeepsOld) {
  EXPECT_EQ(saveFile(path("no/such/dir/x").c_str(), "a", 1), 0);
  const std::string p = path("sub");
  ASSERT_EQ(::mkdir(p.c_str(), 0700), 0);
  EXPECT_EQ(saveFile(p.c_str(), "a", 1), 0);  // a directory is never replaced
  EXPECT_TRUE(isDirectory(p.c_str()));
}

// A batch defers the syncs: the files are in place at once, their folders are synced once at
// the end, and a second sync has nothing left to do.
TEST_F(TempDir, DeferredSyncWritesAtOnceAndSyncsEachFolderOnce) {
  ASSERT_EQ(::mkdir(path("sub").c_str(), 0700), 0);
  setSaveSync(SaveSync::DEFERRED);
  ASSERT_EQ(saveFile(path("a").c_str(), "1", 1), 1);
  ASSERT_EQ(saveFile(path("b").c_str(), "22", 2), 1);
  ASSERT_EQ(saveFile(path("sub/c").c_str(), "333", 3), 1);
  EXPECT_EQ(read(path("b")), "22");
  EXPECT_EQ(read(path("sub/c")), "333");
  // A folder that went away before the sync is reported by name, and the others still sync.
  ASSERT_EQ(saveFile(path("sub/d").c_str(), "4", 1), 1);
  (void)std::system(("rm -rf '" + path("sub") + "'").c_str());
  clearFileFailure();
  EXPECT_EQ(syncSavedFiles(), 0);
  EXPECT_EQ(lastFileFailure().op, FileOp::SYNC);
  EXPECT_EQ(lastFileFailure().path, path("sub/"));
  EXPECT_EQ(syncSavedFiles(), 1);  // nothing pending any more
  setSaveSync(SaveSync::EACH_FILE);
  EXPECT_EQ(saveSync(), SaveSync::EACH_FILE);
}

TEST_F(TempDir, FailuresNameTheirCauseAndPath) {
  uint8_t* data = nullptr;
  int32_t size = 0;
  clearFileFailure();
  EXPECT_EQ(loadFile(path("missing.mid").c_str(), &data, &size), nullptr);
  EXPECT_EQ(fileFailureText(lastFileFailure()),
            path("missing.mid") + ": No such file or directory");
  write(path("empty.mid"), "");
  EXPECT_EQ(loadFile(path("empty.mid").c_str(), &data, &size), nullptr);
  EXPECT_EQ(fileFailureText(lastFileFailure()), path("empty.mid") + ": empty file");
  EXPECT_EQ(loadFile(dir.c_str(), &data, &size), nullptr);
  EXPECT_EQ(fileFailureText(lastFileFailure()), dir + ": Is a directory");
  EXPECT_EQ(saveFile(path("no/such/x.mld").c_str(), "a", 1), 0);
  EXPECT_EQ(fileFailureText(lastFileFailure()),
            "cannot write " + path("no/such/x.mld") + ": No such file or directory");
  EXPECT_EQ(saveFile(dir.c_str(), "a", 1), 0);
  EXPECT_EQ(lastFileFailure().error, EISDIR);
  // Success leaves the record of the last failure alone; the caller clears it per job.
  write(path("ok"), "x");
  void* loaded = loadFile(path("ok").c_str(), &data, &size);
  EXPECT_NE(loaded, nullptr);
  freeBlock(loaded);
  EXPECT_EQ(lastFileFailure().op, FileOp::WRITE);
}

TEST_F(TempDir, SaveFileThroughSymlink) {
  const std::string real = path("real.txt");
  const std::string link = path("link.txt");
  write(real, "old");
  ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
  ASSERT_EQ(saveFile(link.c_str(), "new!", 4), 1);
  EXPECT_EQ(read(real), "new!");
  struct stat st;
  ASSERT_EQ(::lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(TempDir, PrefixSizeAndKinds) {
  write(path("f"), std::string("MThd\0\0", 6));
  uint8_t buf[5] = {};
  EXPECT_EQ(readFilePrefix(path("f").c_str(), buf, 5), 5u);
  EXPECT_EQ(0, std::memcmp(buf, "MThd", 4));
  EXPECT_EQ(readFilePrefix(path("f").c_str(), buf, 0), 0u);
  uint8_t big[64];
  EXPECT_EQ(readFilePrefix(path("f").c_str(), big, 64), 6u);
  EXPECT_EQ(readFilePrefix(path("none").c_str(), buf, 5), 0u);
  EXPECT_EQ(fileSize(path("f").c_str()), 6u);
  EXPECT_EQ(fileSize(path("none").c_str()), 0u);
  EXPECT_EQ(fileSize(dir.c_str()), 0u);
  EXPECT_TRUE(isDirectory(dir.c_str()));
  EXPECT_FALSE(isDirectory(path("f").c_str()));
  EXPECT_TRUE(pathExists(path("f").c_str()));
  EXPECT_FALSE(pathExists(path("none").c_str()));
}

TEST_F(TempDir, MakeTempFile) {
  const char* saved = std::getenv("TMPDIR");
  std::string keep = saved ? saved : "";
  ::setenv("TMPDIR", dir.c_str(), 1);
  uint8_t* name = nullptr;
  void* h = makeTempFile(&name, "vlmconv");
  uint8_t* name2 = nullptr;
  void* h2 = makeTempFile(&name2, "vlmconv");
  if (saved)
    ::setenv("TMPDIR", keep.c_str(), 1);
  else
    ::unsetenv("TMPDIR");
  ASSERT_NE(h, nullptr);
  ASSERT_NE(h2, nullptr);
  EXPECT_GE(blockCapacity(h), size_t(std::strlen(reinterpret_cast<char*>(name)) + 1));
  std::string n(reinterpret_cast<char*>(name));
  EXPECT_EQ(n.rfind(dir + "/vlm", 0), 0u) << n;
  // Only three characters of the prefix, then six random ones (which may well start with "c").
  EXPECT_EQ(n.size(), dir.size() + 1 + 3 + 6 + 4) << n;
  EXPECT_EQ(n.substr(n.size() - 4), ".tmp");
  EXPECT_TRUE(pathExists(n.c_str()));
  EXPECT_EQ(fileSize(n.c_str()), 0u);
  EXPECT_STRNE(n.c_str(), reinterpret_cast<char*>(name2));
  ::unlink(n.c_str());
  ::unlink(reinterpret_cast<char*>(name2));
  freeBlock(h);
  freeBlock(h2);
}

TEST(Paths, SplitPath) {
  struct Case {
    const char* path;
    const char* directory;
    const char* name;
    const char* extension;
  };
  const Case cases[] = {
      {"/home/me/song.mid", "/home/me/", "song", ".mid"},
      {"a.tar.gz", "", "a.tar", ".gz"},
      {"/etc/.bashrc", "/etc/", ".bashrc", ""},
      {"dir.d/file", "dir.d/", "file", ""},  // a dot in the directory is no extension
      {"..", "", "..", ""},
      {".hidden.txt", "", ".hidden", ".txt"},
      {"name.", "", "name", "."},
      {"/", "/", "", ""},
  };
  for (const Case& c : cases) {
    PathParts p;
    splitPath(c.path, &p);
    EXPECT_EQ(p.drive, "") << c.path;
    EXPECT_EQ(p.directory, c.directory) << c.path;
    EXPECT_EQ(p.name, c.name) << c.path;
    EXPECT_EQ(p.extension, c.extension) << c.path;
  }
}

TEST(Paths, ReplacePathParts) {
  EXPECT_EQ(replacePathParts("/home/me/song.mid", nullptr, nullptr, nullptr, ".mld"),
            "/home/me/song.mld");
  EXPECT_EQ(replacePathParts("/home/me/song.mid", nullptr, nullptr, nullptr, "mmf"),
            "/home/me/song.mmf");
  EXPECT_EQ(replacePathParts("/home/me/song.mid", nullptr, "/opt/vlm", "melody", ".eml"),
            "/opt/vlm/melody.eml");
  EXPECT_EQ(replacePathParts("/home/me/song.mid", "", "", nullptr, ""), "song");
  EXPECT_EQ(replacePathParts("song", nullptr, nullptr, nullptr, ".mid"), "song.mid");
  // A long path keeps every byte: a cut name would be another file.
  const std::string folder = "/" + std::string(300, 'd') + "/" + std::string(200, 'e') + "/";
  EXPECT_EQ(replacePathParts((folder + "song with spaces.mid").c_str(), nullptr, nullptr,
                             nullptr, ".mld"),
            folder + "song with spaces.mld");
}

TEST(CommandLine, FirstArgument) {
  char out[256];
  EXPECT_EQ(firstArgument("\"/home/me/my songs/a.mid\" /x/b.mid", out, sizeof out), 1);
  EXPECT_STREQ(out, "/home/me/my songs/a.mid");
  EXPECT_EQ(firstArgument("/home/me/my songs/a.mid", out, sizeof out), 1);
  EXPECT_STREQ(out, "/home/me/my songs/a.mid");
  EXPECT_EQ(firstArgument("/home/me/a.mid /home/me/b.mid", out, sizeof out), 1);
  EXPECT_STREQ(out, "/home/me/a.mid");
  EXPECT_EQ(firstArgument("C:\\My Music\\a.mid D:\\b.mid", out, sizeof out), 1);
  EXPECT_STREQ(out, "C:\\My Music\\a.mid");  // the drive-letter rule of firstArgument
  EXPECT_EQ(firstArgument("  song.mid\n", out, sizeof out), 1);
  EXPECT_STREQ(out, "song.mid");
  EXPECT_EQ(firstArgument("\"unterminated name", out, sizeof out), 1);
  EXPECT_STREQ(out, "unterminated name");
  EXPECT_EQ(firstArgument("", out, sizeof out), 0);
  EXPECT_EQ(firstArgument("\"\" b", out, sizeof out), 0);
  EXPECT_EQ(firstArgument(nullptr, out, sizeof out), 0);
  char small[5];
  EXPECT_EQ(firstArgument("abcdefgh", small, sizeof small), 1);
  EXPECT_STREQ(small, "abcd");  // at most out size - 1 characters
}

TEST(CommandLine, ClipboardPath) {
  EXPECT_TRUE(isClipboardPath("clip.txt"));
  EXPECT_TRUE(isClipboardPath("CLIP.TXT"));
  EXPECT_FALSE(isClipboardPath("/tmp/clip.txt"));
  EXPECT_FALSE(isClipboardPath("clip.txt2"));
  EXPECT_FALSE(isClipboardPath(nullptr));
}

}  // namespace
}  // namespace vlm
