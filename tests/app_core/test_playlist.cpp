// The playlist: capacity, splitting of command-line texts, folders, .m3u lists, the full stop,
// saving and shuffling, over files made in a scratch folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/playlist.h"
#include "test_util.h"

namespace vlm {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> entries() {
  std::vector<std::string> out;
  for (int i = 0; i < playlist.count; ++i) out.push_back(playlistEntry(i));
  return out;
}

class PlaylistTest : public ::testing::Test {
 protected:
  void SetUp() override { initPlaylist(PLAYLIST_DEFAULT_FILES); }
  std::string song(const std::string& name) {
    const std::string path = dir.file(name);
    fs::create_directories(fs::path(path).parent_path());
    test::writeText(path, "MThd");
    return path;
  }
  test::ScratchDir dir;
};

TEST_F(PlaylistTest, CapacityFromTheFilesSetting) {
  for (int files : {0, 5000, -3, 1025}) {
    EXPECT_EQ(playlistCapacityOf(files), 1024) << files;
  }
  EXPECT_EQ(playlistCapacityOf(1), 1);
  EXPECT_EQ(playlistCapacityOf(1024), 1024);
  initPlaylist(0);
  EXPECT_EQ(playlist.capacity, 1024);
  EXPECT_TRUE(playlist.entries.empty());
  initPlaylist(5000);
  EXPECT_EQ(playlist.capacity, 1024);
  initPlaylist(3);
  EXPECT_EQ(playlist.capacity, 3);
  EXPECT_EQ(playlist.count, 0);
  EXPECT_STREQ(playlistEntry(0), "");
  EXPECT_STREQ(playlistEntry(-1), "");
}

TEST(SplitCommandLine, QuotesSpacesAndAbsolutePaths) {
  using V = std::vector<std::string>;
  // Two unquoted full paths, the first with a space: two names.
  EXPECT_EQ(splitCommandLine("/home/u/my song.mid /home/u/b.mld"),
            (V{"/home/u/my song.mid", "/home/u/b.mld"}));
  // The same first path quoted and alone: one name.
  EXPECT_EQ(splitCommandLine("\"/home/u/my song.mid\""), (V{"/home/u/my song.mid"}));
  EXPECT_EQ(splitCommandLine("\"/a b.mid\" \"/c d.mid\""), (V{"/a b.mid", "/c d.mid"}));
  // A quoted name keeps a '/' after a space; runs of spaces inside a name are kept.
  EXPECT_EQ(splitCommandLine("\"/a /b.mid\""), (V{"/a /b.mid"}));
  EXPECT_EQ(splitCommandLine("/a  b   c.mid"), (V{"/a  b   c.mid"}));
  // Relative names run over spaces: only an absolute path starts a new name.
  EXPECT_EQ(splitCommandLine("my song.mid other.mid"), (V{"my song.mid other.mid"}));
  EXPECT_EQ(splitCommandLine("  /a.mid   /b.mid  \r\n"), (V{"/a.mid", "/b.mid"}));
  EXPECT_EQ(splitCommandLine("/a.mid\"/b c.mid\"/d.mid"), (V{"/a.mid", "/b c.mid", "/d.mid"}));
  EXPECT_EQ(splitCommandLine("\"unclosed /x"), (V{"unclosed /x"}));
  EXPECT_EQ(splitCommandLine("\"\" \"\""), V{});
  EXPECT_EQ(splitCommandLine(""), V{});
  EXPECT_EQ(splitCommandLine(nullptr), V{});
}

TEST(SplitCommandLine, HomeAndRoundTrip) {
  const char* old = std::getenv("HOME");
  const std::string saved = old ? old : "";
  ::setenv("HOME", "/home/tester/", 1);
  using V = std::vector<std::string>;
  EXPECT_EQ(splitCommandLine("~/a b.mid ~/c.mid /d.mid"),
            (V{"/home/tester/a b.mid", "/home/tester/c.mid", "/d.mid"}));
  EXPECT_EQ(splitCommandLine("\"~/literal\""), (V{"~/literal"}));
  EXPECT_EQ(splitCommandLine("x~/y.mid"), (V{"x~/y.mid"}));

  const V args = {"/a b.mid", "rel x.mid", "~/q.mid", "/c.mid", "two  spaces"};
  EXPECT_EQ(splitCommandLine(joinCommandLine(args).c_str()), args);
  if (old)
    ::setenv("HOME", saved.c_str(), 1);
  else
    ::unsetenv("HOME");
}

TEST_F(PlaylistTest, CommandLineKeepsExistingSupportedFiles) {
  const std::string a = song("my folder/first song.mid");
  const std::string b = song("b.mld");
  test::writeText(dir.file("notes.xyz"), "?");
  const std::string text =
      a + " " + b + " " + dir.file("missing.mid") + " " + dir.file("notes.xyz") + " \"" + a + "\"";
  addPathsToPlaylist(text.c_str());
  EXPECT_EQ(entries(), (std::vector<std::string>{a, b, a}));

  clearPlaylist();
  EXPECT_EQ(playlist.count, 0);
  addPlaylistPath("clip.txt");  // the clipboard entry, whatever the clipboard holds
  EXPECT_EQ(entries(), (std::vector<std::string>{"clip.txt"}));
}

TEST_F(PlaylistTest, FolderIsAddedRecursivelyInNameOrderUpToFiles) {
  const std::vector<std::string> expected = {song("top/a.mid"), song("top/b/c.mmf"),
                                             song("top/b/d/e.mld"), song("top/b0.dxm"),
                                             song("top/z.kar")};
  test::writeText(dir.file("top/b/skip.xyz"), "?");
  test::writeText(dir.file("top/b/list.m3u"), expected[0] + "\n");  // lists are not files here
  fs::create_directories(dir.file("top/empty"));
  // A link back up would loop forever if followed.
  fs::create_directory_symlink(dir.file("top"), dir.file("top/b/loop"));

  addPlaylistPath(dir.file("top").c_str());
  EXPECT_EQ(entries(), expected);

  initPlaylist(3);
  addPathsToPlaylist(("\"" + dir.file("top") + "\"").c_str());
  EXPECT_EQ(entries(), (std::vector<std::string>(expected.begin(), expected.begin() + 3)));
  EXPECT_TRUE(playlistFull());
  // A full playlist stops every expansion.
  addPlaylistPath(expected[4].c_str());
  addDirectory(dir.file("top").c_str());
  addPathsToPlaylist(expected[4].c_str());
  EXPECT_EQ(playlist.count, 3);
  EXPECT_EQ(playlistEntry(2), expected[2]);
}

TEST_F(PlaylistTest, M3uWithCommentsMissingFilesAndRelativeEntries) {
  const std::string a = song("music/a.mid");
  const std::string b = song("music/sub/b.mld");
  const std::string c = song("c.mmf");
  test::writeText(dir.file("music/list.m3u"),
                  "#EXTM3U\r\n"
                  "#EXTINF:12,A\r\n"
                  "a.mid\r\n"
                  "\r\n"
                  "   sub/b.mld  \r"
                  "missing.mid\n" +
                      c + "\n" + dir.file("music/sub") + "\n" +  // a folder: not expanded
                      dir.file("music/list.m3u") + "\n" +        // itself: not followed
                      std::string(300, 'x') + ".mid\n" + "a.mid");
  // The list's own folder resolves its relative entries, not the current folder.
  test::ScratchDir elsewhere;
  const auto old = fs::current_path();
  fs::current_path(elsewhere.path());
  addPlaylistPath(dir.file("music/list.m3u").c_str());
  fs::current_path(old);
  ASSERT_EQ(playlist.count, 4);
  EXPECT_TRUE(fs::equivalent(playlistEntry(0), a));
  EXPECT_TRUE(fs::equivalent(playlistEntry(1), b));
  EXPECT_EQ(playlistEntry(2), c);
  EXPECT_TRUE(fs::equivalent(playlistEntry(3), a));  // the last line has no line end

  // Stops when full, in the middle of the list.
  initPlaylist(2);
  loadPlaylistFile(dir.file("music/list.m3u").c_str());
  EXPECT_EQ(playlist.count, 2);
  // Missing or empty lists add nothing.
  initPlaylist(4);
  loadPlaylistFile(dir.file("none.m3u").c_str());
  test::writeText(dir.file("empty.m3u"), "");
  loadPlaylistFile(dir.file("empty.m3u").c_str());
  EXPECT_EQ(playlist.count, 0);
}

TEST_F(PlaylistTest, SaveWritesCrLfAndLoadsBack) {
  const std::vector<std::string> files = {song("a b.mid"), song("c.mld"), song("d.mmf")};
  for (const auto& f : files) addPlaylistPath(f.c_str());
  const std::string list = dir.file("out/playlist.m3u");
  fs::create_directories(dir.file("out"));
  ASSERT_EQ(savePlaylistFile(list.c_str()), 1);
  const std::vector<uint8_t> bytes = test::readBytes(list);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
            files[0] + "\r\n" + files[1] + "\r\n" + files[2] + "\r\n");
  clearPlaylist();
  loadPlaylistFile(list.c_str());
  EXPECT_EQ(entries(), files);
  EXPECT_EQ(savePlaylistFile(dir.file("no/such/folder/p.m3u").c_str()), 0);
}

TEST_F(PlaylistTest, ShuffleKeepsTheCurrentEntryAndEveryOther) {
  std::vector<std::string> files;
  for (int i = 0; i < 12; ++i) files.push_back(song("s" + std::to_string(10 + i) + ".mid"));
  for (const auto& f : files) addPlaylistPath(f.c_str());
  playlist.index = 4;
  shufflePlaylist(7);
  std::vector<std::string> once = entries();
  EXPECT_EQ(once[4], files[4]);
  EXPECT_NE(once, files);
  std::vector<std::string> sorted = once;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, files);
  // The same seed from the same order gives the same order.
  clearPlaylist();
  for (const auto& f : files) addPlaylistPath(f.c_str());
  playlist.index = 4;
  shufflePlaylist(7);
  EXPECT_EQ(entries(), once);
  // A single entry stays.
  initPlaylist(5);
  addPlaylistPath(files[0].c_str());
  shufflePlaylist(1);
  EXPECT_EQ(entries(), (std::vector<std::string>{files[0]}));
}

TEST_F(PlaylistTest, LongPathsAreKeptWhole) {
  std::string folder;
  for (char c = 'a'; folder.size() < 600; ++c) folder += std::string(200, c) + "/";
  const std::string path = song(folder + "a song.mid");
  ASSERT_GT(path.size(), 600u);
  addPlaylistPath(path.c_str());
  addDirectory(dir.path().c_str());
  test::writeText(dir.file("list.m3u"), path + "\r\n");
  loadPlaylistFile(dir.file("list.m3u").c_str());
  EXPECT_EQ(entries(), (std::vector<std::string>{path, path, path}));
  ASSERT_EQ(savePlaylistFile(dir.file("saved.m3u").c_str()), 1);
  clearPlaylist();
  loadPlaylistFile(dir.file("saved.m3u").c_str());
  EXPECT_EQ(entries(), (std::vector<std::string>{path, path, path}));
  shufflePlaylist(7);
  EXPECT_EQ(entries(), (std::vector<std::string>{path, path, path}));
}

}  // namespace
}  // namespace vlm
