// Folder and .m3u walks shared by the command line and the playlist.
#include "convert/path_expansion.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <vector>

#include "util/files.h"
#include "util/memblock.h"

namespace vlm {

namespace {

struct FolderEntry {
  std::string name;
  std::string key;  // the name, with '/' appended for a folder
  bool folder;
};

bool walkBelow(const std::string& folder, const PathVisitor& visit, int depth) {
  if (depth > PATH_WALK_MAX_DEPTH) return true;
  DIR* d = ::opendir(folder.c_str());
  if (!d) return true;
  const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  std::vector<FolderEntry> entries;
  while (dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    // The entry's own type spares a stat per file; links and file systems that give no type
    // are asked.
    unsigned char type = e->d_type;
    const std::string path = prefix + name;
    if (type == DT_UNKNOWN) {
      struct stat link;
      if (::lstat(path.c_str(), &link) != 0) continue;
      type = S_ISDIR(link.st_mode)   ? DT_DIR
             : S_ISREG(link.st_mode) ? DT_REG
             : S_ISLNK(link.st_mode) ? DT_LNK
                                     : DT_UNKNOWN;
    }
    struct stat target;
    if (type == DT_DIR) {
      entries.push_back({name, name + "/", true});
    } else if (type == DT_REG ||
               (type == DT_LNK && ::stat(path.c_str(), &target) == 0 && S_ISREG(target.st_mode))) {
      entries.push_back({name, name, false});
    }
  }
  ::closedir(d);
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.key < b.key; });
  for (const FolderEntry& entry : entries) {
    const std::string path = prefix + entry.name;
    if (entry.folder) {
      if (!walkBelow(path, visit, depth + 1)) return false;
    } else if (!visit(path)) {
      return false;
    }
  }
  return true;
}

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

bool walkFolder(const std::string& folder, const PathVisitor& visit) {
  return walkBelow(folder, visit, 0);
}

bool walkPlaylistText(const char* text, size_t size, const std::string& baseFolder,
                      const PathVisitor& visit) {
  if (!text) return true;
  size_t i = 0;
  while (i < size) {
    size_t end = i;
    while (end < size && text[end] != '\r' && text[end] != '\n' && text[end] != '\0') ++end;
    size_t a = i, b = end;
    while (a < b && isBlank(text[a])) ++a;
    while (b > a && isBlank(text[b - 1])) --b;
    i = end;
    while (i < size && (text[i] == '\r' || text[i] == '\n' || text[i] == '\0')) ++i;
    if (a == b || text[a] == '#') continue;
    std::string entry(text + a, b - a);
    if (entry[0] != '/' && !baseFolder.empty())
      entry = (baseFolder.back() == '/' ? baseFolder : baseFolder + "/") + entry;
    if (!visit(entry)) return false;
  }
  return true;
}

bool walkPlaylistFile(const std::string& listPath, const PathVisitor& visit) {
  MemBlock block;
  if (!blockLoadFile(&block, listPath.c_str())) return true;
  // A list without a folder part lies in the current folder: its entries stay as they are.
  const size_t slash = listPath.rfind('/');
  const std::string base =
      slash == std::string::npos ? std::string() : listPath.substr(0, slash + 1);
  const bool go = walkPlaylistText(reinterpret_cast<const char*>(block.data),
                                   size_t(block.length > 0 ? block.length : 0), base, visit);
  blockFree(&block);
  return go;
}

}  // namespace vlm
