// Whole-file I/O, temporary files, path and command-line helpers, on POSIX.
#include "util/files.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace vlm {

namespace {

constexpr const char* TEMP_EXTENSION = ".tmp";  // stands for the system's ".TMP"
constexpr int TEMP_PREFIX_CHARS = 3;

bool readAll(int fd, uint8_t* buffer, size_t n, size_t* got) {
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::read(fd, buffer + done, n - done);
    if (r < 0) {
      if (errno == EINTR) continue;
      *got = done;
      return false;
    }
    if (r == 0) break;
    done += size_t(r);
  }
  *got = done;
  return true;
}

bool writeAll(int fd, const uint8_t* data, size_t n) {
  size_t done = 0;
  while (done < n) {
    ssize_t w = ::write(fd, data + done, n - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += size_t(w);
  }
  return true;
}

// The process umask without changing it (umask() itself sets as it reads, which races with
// other threads); Linux shows it in /proc/self/status.
mode_t currentUmask() {
  if (FILE* f = std::fopen("/proc/self/status", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
      unsigned mask = 0;
      if (std::sscanf(line, "Umask: %o", &mask) == 1) {
        std::fclose(f);
        return mode_t(mask);
      }
    }
    std::fclose(f);
  }
  mode_t old = ::umask(022);
  ::umask(old);
  return old;
}

// Copies at most PATH_SLOT - 1 bytes and terminates.
void copySlot(char* out, const std::string& s) {
  size_t n = s.size() < size_t(PATH_SLOT - 1) ? s.size() : size_t(PATH_SLOT - 1);
  std::memcpy(out, s.data(), n);
  out[n] = 0;
}

}  // namespace

void* loadFile(const char* path, uint8_t** pointer, int32_t* size) {
  if (pointer) *pointer = nullptr;
  if (size) *size = 0;
  if (!path) return nullptr;
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 || st.st_size > INT32_MAX) {
    ::close(fd);
    return nullptr;
  }
  uint8_t* data = nullptr;
  void* handle = allocBlock(&data, size_t(st.st_size));
  if (!handle) {
    ::close(fd);
    return nullptr;
  }
  size_t got = 0;
  bool ok = readAll(fd, data, size_t(st.st_size), &got);
  ::close(fd);
  if (!ok || got == 0) {
    freeBlock(handle);
    return nullptr;
  }
  if (pointer) *pointer = data;
  if (size) *size = int32_t(got);
  return handle;
}

int blockLoadFile(MemBlock* block, const char* path) {
  blockFree(block);
  block->handle = loadFile(path, &block->data, &block->length);
  return block->handle ? 1 : 0;
}

int saveFile(const char* path, const void* data, size_t size) {
  if (!path || !*path || (size && !data)) return 0;
  // Write through a symbolic link, as opening the link for writing would.
  std::string target = path;
  struct stat st;
  if (::lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* real = ::realpath(path, nullptr)) {
      target = real;
      std::free(real);
    }
  }
  const size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  std::string temp = dir + (slash == std::string::npos ? "/" : "") + ".vlmsave-XXXXXX";

  // A replaced file keeps its permission bits; a new one gets those of a normal create.
  mode_t mode = 0666 & ~currentUmask();
  if (::stat(target.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return 0;
    mode = st.st_mode & 07777;
  }

  int fd = ::mkstemp(temp.data());
  if (fd < 0) return 0;
  bool ok = writeAll(fd, static_cast<const uint8_t*>(data), size);
  ok = ok && ::fchmod(fd, mode) == 0;
  ok = ok && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return 0;
  }
  int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {  // makes the rename itself durable; failure here loses nothing
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return 1;
}

uint32_t readFilePrefix(const char* path, uint8_t* buffer, uint32_t n) {
  if (!path) return 0;
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  size_t got = 0;
  readAll(fd, buffer, n, &got);
  ::close(fd);
  return uint32_t(got);
}

uint32_t fileSize(const char* path) {
  struct stat st;
  if (!path || ::stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  if (::access(path, R_OK) != 0) return 0;  // a file that cannot be opened counts as none
  return st.st_size > off_t(UINT32_MAX) ? UINT32_MAX : uint32_t(st.st_size);
}

bool isDirectory(const char* path) {
  struct stat st;
  return path && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool pathExists(const char* path) {
  struct stat st;
  return path && ::stat(path, &st) == 0;
}

void* makeTempFile(uint8_t** pointer, const char* prefix) {
  if (pointer) *pointer = nullptr;
  const char* env = std::getenv("TMPDIR");
  std::string name = env && *env ? env : "/tmp";
  if (name.back() != '/') name += '/';
  if (prefix) name.append(prefix, strnlen(prefix, TEMP_PREFIX_CHARS));
  name += "XXXXXX";
  name += TEMP_EXTENSION;
  if (name.size() > size_t(MAX_PATH_CHARS)) return nullptr;
  int fd = ::mkstemps(name.data(), int(std::strlen(TEMP_EXTENSION)));
  if (fd < 0) return nullptr;
  ::close(fd);
  uint8_t* data = nullptr;
  void* handle = allocBlock(&data, PATH_SLOT);
  if (!handle) {
    ::unlink(name.c_str());
    return nullptr;
  }
  std::memcpy(data, name.c_str(), name.size() + 1);
  if (pointer) *pointer = data;
  return handle;
}

void splitPath(const char* path, PathParts* parts) {
  const std::string p = path ? path : "";
  const size_t slash = p.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : p.substr(0, slash + 1);
  const std::string file = slash == std::string::npos ? p : p.substr(slash + 1);
  // The extension starts at the last dot after the name's leading dots: ".bashrc" and ".."
  // have none, "a.tar.gz" has ".gz", "name." has ".".
  size_t first = file.find_first_not_of('.');
  size_t dot = file.rfind('.');
  std::string name = file;
  std::string ext;
  if (first != std::string::npos && dot != std::string::npos && dot > first) {
    name = file.substr(0, dot);
    ext = file.substr(dot);
  }
  parts->drive[0] = 0;
  copySlot(parts->directory, dir);
  copySlot(parts->name, name);
  copySlot(parts->extension, ext);
}

void replacePathParts(const char* path, char* out, const char* drive, const char* directory,
                      const char* name, const char* extension) {
  PathParts parts;
  splitPath(path, &parts);
  std::string joined = drive ? drive : parts.drive;
  std::string dir = directory ? directory : parts.directory;
  if (!dir.empty() && dir.back() != '/') dir += '/';  // as _makepath adds the separator
  joined += dir;
  joined += name ? name : parts.name;
  std::string ext = extension ? extension : parts.extension;
  if (!ext.empty() && ext[0] != '.') ext.insert(ext.begin(), '.');
  joined += ext;
  copySlot(out, joined);
}

// Besides the Windows rule (a space followed by a drive letter and a colon starts the next
// name), a space followed by '/' does too: that is how a full path begins here, and a directory
// name ending in a space is rare enough to give up for splitting unquoted lists of full paths.
int firstArgument(const char* commandLine, char* out, size_t outSize) {
  if (!out || outSize == 0) return 0;
  out[0] = 0;
  if (!commandLine) return 0;
  const char* p = commandLine;
  while (*p == ' ' || *p == '\t') ++p;
  const char* begin = p;
  const char* end = nullptr;
  if (*p == '"') {
    begin = ++p;
    const char* close = std::strchr(p, '"');
    end = close ? close : p + std::strlen(p);
  } else {
    for (const char* q = p; *q; ++q) {
      if (*q != ' ' || q == p) continue;
      const unsigned char next = static_cast<unsigned char>(q[1]);
      const bool drive = ((next | 0x20) >= 'a' && (next | 0x20) <= 'z') && q[2] == ':';
      if (drive || next == '/') {
        end = q;
        break;
      }
    }
    if (!end) {
      end = p + std::strlen(p);
      // A trailing line end or blanks belong to the line, not to the name.
      while (end > begin &&
             (end[-1] == ' ' || end[-1] == '\t' || end[-1] == '\r' || end[-1] == '\n'))
        --end;
    }
  }
  size_t n = size_t(end - begin);
  if (n > outSize - 1) n = outSize - 1;
  std::memcpy(out, begin, n);
  out[n] = 0;
  return n > 0 ? 1 : 0;
}

bool isClipboardPath(const char* path) {
  return path && ::strcasecmp(path, CLIPBOARD_FILE) == 0;
}

}  // namespace vlm
