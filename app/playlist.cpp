// The player's playlist: paths of any length filled from command-line texts, folders, .m3u
// lists and dropped paths. Folder and list walks are the shared ones of convert/path_expansion.
#include "app/playlist.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>

#include "convert/format_table.h"
#include "convert/path_expansion.h"

namespace vlm {

Playlist playlist;

namespace {

// A playlist nobody initialised takes the default size, so no expansion silently adds nothing.
void ensurePlaylist() {
  if (playlist.capacity <= 0) initPlaylist(PLAYLIST_DEFAULT_FILES);
}

// Appends a path as it stands, never cut: a cut name would be another (missing or wrong) file.
bool appendEntry(const std::string& path) {
  ensurePlaylist();
  if (playlistFull() || path.empty()) return false;
  playlist.entries.resize(size_t(playlist.count));
  playlist.entries.push_back(path);
  ++playlist.count;
  return true;
}

bool isExistingFile(const std::string& path) {
  return pathExists(path.c_str()) && !isDirectory(path.c_str());
}

// Keeps a supported file; answers whether there is room for more.
bool keepSupportedFile(const std::string& path) {
  if (isExistingFile(path) && detectFormat(path.c_str()) > 0)
    appendEntry(path);
  return !playlistFull();
}

bool isSpace(char c) {
  return c == ' ' || c == '\t';
}

bool isLineEnd(char c) {
  return c == '\r' || c == '\n';
}

// True when the text at p begins a new absolute path, which ends the unquoted name before it.
bool startsAbsolutePath(const char* p) {
  return p[0] == '/' || (p[0] == '~' && p[1] == '/');
}

std::string expandHome(const std::string& name) {
  if (name.size() < 2 || name[0] != '~' || name[1] != '/') return name;
  const char* home = std::getenv("HOME");
  if (!home || !*home) return name;
  std::string h = home;
  if (h.back() == '/') h.pop_back();
  return h + name.substr(1);
}

}  // namespace

int playlistCapacityOf(int files) {
  return files < 1 || files > PLAYLIST_MAX_FILES ? PLAYLIST_MAX_FILES : files;
}

void initPlaylist(int files) {
  playlist.capacity = playlistCapacityOf(files);
  playlist.entries.clear();
  playlist.entries.reserve(size_t(playlist.capacity));
  playlist.count = 0;
  playlist.index = 0;
}

void clearPlaylist() {
  ensurePlaylist();
  playlist.entries.clear();
  playlist.count = 0;
  playlist.index = 0;
}

bool playlistFull() {
  return playlist.count >= playlist.capacity;
}

const char* playlistEntry(int i) {
  if (i < 0 || i >= playlist.count || size_t(i) >= playlist.entries.size()) return "";
  return playlist.entries[size_t(i)].c_str();
}

void addPlaylistPath(const char* path) {
  ensurePlaylist();
  if (!path || !*path || playlistFull()) return;
  const std::string p = path;
  if (isClipboardPath(path)) {
    appendEntry(p);  // the clipboard's text, read when the entry is opened
    return;
  }
  const FormatCode code = detectFormat(path);
  if (code == FORMAT_PLAYLIST) {
    loadPlaylistFile(path);
  } else if (code == FORMAT_DIRECTORY) {
    addDirectory(path);
  } else if (code > 0 && isExistingFile(p)) {
    appendEntry(p);
  }
}

std::vector<std::string> splitCommandLine(const char* text) {
  std::vector<std::string> names;
  if (!text) return names;
  const char* p = text;
  for (;;) {
    while (isSpace(*p) || isLineEnd(*p)) ++p;
    if (!*p) break;
    if (*p == '"') {
      const char* begin = ++p;
      while (*p && *p != '"') ++p;
      if (p > begin) names.emplace_back(begin, size_t(p - begin));
      if (*p == '"') ++p;
      continue;
    }
    // An unquoted name runs over single spaces and runs of them; it ends where the text after
    // the spaces starts another absolute path, a quoted name, a line end or the end.
    const char* begin = p;
    const char* end = nullptr;
    while (!end) {
      if (!*p || *p == '"' || isLineEnd(*p)) {
        end = p;
      } else if (isSpace(*p)) {
        const char* after = p;
        while (isSpace(*after)) ++after;
        if (!*after || *after == '"' || isLineEnd(*after) || startsAbsolutePath(after)) {
          end = p;
          p = after;
        } else {
          p = after;
        }
      } else {
        ++p;
      }
    }
    names.push_back(expandHome(std::string(begin, size_t(end - begin))));
  }
  return names;
}

std::string joinCommandLine(const std::vector<std::string>& args) {
  std::string out;
  for (const std::string& arg : args) {
    if (arg.empty()) continue;
    if (!out.empty()) out += ' ';
    // Every name in quotes: a quoted name is never split and never has '~' expanded, so the text
    // gives back exactly these names (a name cannot hold a double quote here).
    out += '"';
    out += arg;
    out += '"';
  }
  return out;
}

void addPathsToPlaylist(const char* text) {
  ensurePlaylist();
  for (const std::string& name : splitCommandLine(text)) {
    if (playlistFull()) break;
    addPlaylistPath(name.c_str());
  }
}

void addDirectory(const char* path) {
  ensurePlaylist();
  if (!path || !*path || playlistFull()) return;
  walkFolder(path, [](const std::string& file) { return keepSupportedFile(file); });
}

void loadPlaylistFile(const char* path) {
  ensurePlaylist();
  if (!path || !*path || playlistFull()) return;
  // Entries that are folders or other lists are not expanded here, so a list that names itself
  // ends after one pass.
  walkPlaylistFile(path, [](const std::string& entry) { return keepSupportedFile(entry); });
}

int savePlaylistFile(const char* path) {
  if (!path || !*path) return 0;
  std::string text;
  for (int i = 0; i < playlist.count; ++i) {
    text += playlistEntry(i);
    text += "\r\n";
  }
  return saveFile(path, text.data(), text.size());
}

void shufflePlaylist(uint32_t seed) {
  if (playlist.count < 2) return;
  const int keep = playlist.index >= 0 && playlist.index < playlist.count ? playlist.index : -1;
  std::vector<int> order;
  for (int i = 0; i < playlist.count; ++i)
    if (i != keep) order.push_back(i);
  std::mt19937 random(seed);
  for (size_t i = order.size(); i > 1; --i) {
    const size_t j = random() % i;
    std::swap(order[i - 1], order[j]);
  }
  if (keep >= 0) order.insert(order.begin() + keep, keep);
  std::vector<std::string> shuffled;
  shuffled.reserve(playlist.entries.capacity());
  for (int i = 0; i < playlist.count; ++i)
    shuffled.push_back(std::move(playlist.entries[size_t(order[size_t(i)])]));
  playlist.entries.swap(shuffled);
}

}  // namespace vlm
