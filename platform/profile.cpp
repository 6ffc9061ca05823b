// Private-profile (ini) files with the semantics of the Windows calls: "[section]" lines open a
// section, "key=value" lines hold values, names compare without regard to ASCII case, values are
// raw bytes with surrounding blanks (and one pair of matching quotes) removed on reading. A write
// keeps every other line as it was and rewrites the whole file atomically (saveFile).
#include "platform/profile.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "util/files.h"
#include "util/memblock.h"

namespace vlm {

namespace {

constexpr const char* APP_FOLDER = "vlmplay";

inline bool isBlank(char c) {
  return c == ' ' || c == '\t';
}
inline char foldAscii(char c) {
  return c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c;
}

bool sameName(const std::string& a, const char* b) {
  size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (foldAscii(a[i]) != foldAscii(b[i])) return false;
  return true;
}

std::string trim(const std::string& s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && isBlank(s[b])) ++b;
  while (e > b && isBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// One line of the file, classified once.
struct Line {
  enum Kind { OTHER, SECTION, ENTRY } kind = OTHER;
  std::string text;   // the line as it stands in the file, without its line end
  std::string name;   // section name or key, trimmed
  std::string value;  // entry value, trimmed, quotes removed
};

Line classify(std::string text) {
  Line line;
  line.text = std::move(text);
  const std::string t = trim(line.text);
  if (!t.empty() && t[0] == '[') {
    size_t close = t.find(']');
    line.kind = Line::SECTION;
    line.name = trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    return line;
  }
  size_t eq = t.find('=');
  if (eq != std::string::npos && eq > 0) {
    line.kind = Line::ENTRY;
    line.name = trim(t.substr(0, eq));
    std::string v = trim(t.substr(eq + 1));
    if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0])
      v = v.substr(1, v.size() - 2);
    line.value = v;
  }
  return line;
}

struct Profile {
  std::vector<Line> lines;
  std::string lineEnd = "\n";  // a file written with CR LF keeps CR LF
  bool endsWithLineEnd = true;
};

Profile loadFromDisk(const std::string& path) {
  Profile p;
  uint8_t* data = nullptr;
  int32_t size = 0;
  void* handle = loadFile(path.c_str(), &data, &size);
  if (!handle) return p;  // missing or empty: no lines, every read gives its default
  const char* s = reinterpret_cast<const char*>(data);
  const size_t n = size_t(size);
  const void* firstLf = std::memchr(s, '\n', n);
  if (firstLf && firstLf != s && static_cast<const char*>(firstLf)[-1] == '\r') p.lineEnd = "\r\n";
  size_t start = 0;
  while (start < n) {
    const void* lf = std::memchr(s + start, '\n', n - start);
    size_t end = lf ? size_t(static_cast<const char*>(lf) - s) : n;
    size_t textEnd = end;
    if (textEnd > start && s[textEnd - 1] == '\r') --textEnd;
    p.lines.push_back(classify(std::string(s + start, textEnd - start)));
    start = lf ? end + 1 : n;
  }
  p.endsWithLineEnd = n > 0 && s[n - 1] == '\n';
  freeBlock(handle);
  return p;
}

bool saveToDisk(const std::string& path, const Profile& p) {
  std::string out;
  for (size_t i = 0; i < p.lines.size(); ++i) {
    out += p.lines[i].text;
    if (i + 1 < p.lines.size() || p.endsWithLineEnd) out += p.lineEnd;
  }
  // The settings folder is made on the first write.
  const size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    std::string dir = path.substr(0, slash);
    if (!isDirectory(dir.c_str())) {
      for (size_t k = 1; k <= dir.size(); ++k) {
        if (k == dir.size() || dir[k] == '/') {
          std::string part = dir.substr(0, k);
          if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
        }
      }
    }
  }
  return saveFile(path.c_str(), out.data(), out.size()) == 1;
}

// Open batches of this thread, by settings path.
struct Pending {
  Profile profile;
  int depth = 0;
  bool dirty = false;
};
thread_local std::map<std::string, Pending> batches;

Profile loadProfile(const std::string& path) {
  auto it = batches.find(path);
  return it != batches.end() ? it->second.profile : loadFromDisk(path);
}

bool saveProfile(const std::string& path, const Profile& p) {
  auto it = batches.find(path);
  if (it == batches.end()) return saveToDisk(path, p);
  it->second.profile = p;
  it->second.dirty = true;
  return true;
}

// Index of the section's line, or -1.
long findSection(const Profile& p, const char* section) {
  for (size_t i = 0; i < p.lines.size(); ++i)
    if (p.lines[i].kind == Line::SECTION && sameName(p.lines[i].name, section)) return long(i);
  return -1;
}

// End of the section that starts at line `s`: the next section line or the end of the file.
size_t sectionEnd(const Profile& p, size_t s) {
  size_t i = s + 1;
  while (i < p.lines.size() && p.lines[i].kind != Line::SECTION) ++i;
  return i;
}

long findEntry(const Profile& p, long s, const char* key) {
  if (s < 0) return -1;
  const size_t end = sectionEnd(p, size_t(s));
  for (size_t i = size_t(s) + 1; i < end; ++i)
    if (p.lines[i].kind == Line::ENTRY && sameName(p.lines[i].name, key)) return long(i);
  return -1;
}

bool lookup(const char* section, const char* key, const char* file, std::string* value) {
  if (!section || !key) return false;
  const Profile p = loadProfile(profilePath(file));
  long e = findEntry(p, findSection(p, section), key);
  if (e < 0) return false;
  *value = p.lines[size_t(e)].value;
  return true;
}

std::string homeDirectory() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  if (const passwd* pw = ::getpwuid(::getuid())) return pw->pw_dir ? pw->pw_dir : "";
  return "";
}

}  // namespace

std::string profilePath(const char* file) {
  const std::string name = file && *file ? file : "vlmplay.ini";
  if (name.find('/') != std::string::npos) return name;
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (config && config[0] == '/')  // the XDG rule: a relative value is ignored
    base = config;
  else
    base = homeDirectory() + "/.config";
  return base + "/" + APP_FOLDER + "/" + name;
}

size_t readProfileString(const char* section, const char* key, const char* fallback, char* out,
                         size_t outSize, const char* file) {
  if (!out || outSize == 0) return 0;
  std::string value;
  if (!lookup(section, key, file, &value)) value = fallback ? fallback : "";
  size_t n = value.size() < outSize - 1 ? value.size() : outSize - 1;
  std::memcpy(out, value.data(), n);
  out[n] = 0;
  return n;
}

std::string readProfileString(const char* section, const char* key, const char* fallback,
                              const char* file) {
  std::string value;
  if (!lookup(section, key, file, &value)) value = fallback ? fallback : "";
  return value;
}

int readProfileInt(const char* section, const char* key, int fallback, const char* file) {
  std::string value;
  if (!lookup(section, key, file, &value)) return fallback;
  size_t i = 0;
  bool negative = false;
  if (i < value.size() && (value[i] == '-' || value[i] == '+')) negative = value[i++] == '-';
  long long v = 0;
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
    v = v * 10 + (value[i] - '0');
    if (v > 1LL + INT_MAX) v = 1LL + INT_MAX;  // saturate rather than wrap
  }
  if (negative) v = -v;
  if (v > INT_MAX) v = INT_MAX;
  if (v < INT_MIN) v = INT_MIN;
  return int(v);
}

bool writeProfileString(const char* section, const char* key, const char* value, const char* file) {
  if (!section) return false;
  const std::string path = profilePath(file);
  Profile p = loadProfile(path);
  long s = findSection(p, section);
  if (!key) {  // as WritePrivateProfileString: a null key removes the whole section
    if (s < 0) return true;
    p.lines.erase(p.lines.begin() + s, p.lines.begin() + long(sectionEnd(p, size_t(s))));
    return saveProfile(path, p);
  }
  long e = findEntry(p, s, key);
  if (!value) {
    if (e < 0) return true;  // nothing to delete, nothing to write
    p.lines.erase(p.lines.begin() + e);
    return saveProfile(path, p);
  }
  if (e >= 0) {
    Line& line = p.lines[size_t(e)];
    if (line.value == value && line.text == line.name + "=" + value) return true;
    line = classify(line.name + "=" + value);  // keeps the key as the file spells it
    return saveProfile(path, p);
  }
  const Line entry = classify(std::string(key) + "=" + value);
  if (s < 0) {
    p.lines.push_back(classify("[" + std::string(section) + "]"));
    p.lines.push_back(entry);
    p.endsWithLineEnd = true;
    return saveProfile(path, p);
  }
  // After the section's last entry, so blank lines before the next section stay where they are.
  size_t at = size_t(s) + 1;
  const size_t end = sectionEnd(p, size_t(s));
  for (size_t i = size_t(s) + 1; i < end; ++i)
    if (!trim(p.lines[i].text).empty()) at = i + 1;
  if (at == p.lines.size()) p.endsWithLineEnd = true;  // the new last line gets a line end
  p.lines.insert(p.lines.begin() + long(at), entry);
  return saveProfile(path, p);
}

bool writeProfileInt(const char* section, const char* key, int value, const char* file) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", value);
  return writeProfileString(section, key, text, file);
}

ProfileBatch::ProfileBatch(const char* file) : path_(profilePath(file)) {
  Pending& pending = batches[path_];
  if (pending.depth++ == 0) {
    pending.profile = loadFromDisk(path_);
    pending.dirty = false;
  }
}

ProfileBatch::~ProfileBatch() {
  auto it = batches.find(path_);
  if (it == batches.end()) return;
  if (--it->second.depth > 0) return;
  flush();
  batches.erase(path_);
}

bool ProfileBatch::flush() {
  auto it = batches.find(path_);
  if (it == batches.end() || !it->second.dirty) return true;
  if (!saveToDisk(path_, it->second.profile)) return false;
  it->second.dirty = false;
  return true;
}

}  // namespace vlm
