// Whole-file I/O, temporary files, path and command-line helpers, on POSIX.
#include "util/files.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

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

thread_local FileFailure failure;

void fail(FileOp op, const char* path, int error) {
  failure.op = op;
  failure.path = path ? path : "";
  failure.error = error;
}

// Deferred syncs: the folders written into since the last syncSavedFiles. Each thread remembers
// the folder it recorded last (for the current generation of the list), so a batch into one
// folder takes the lock once per thread, not once per file.
std::atomic<SaveSync> syncMode{SaveSync::EACH_FILE};
std::mutex pendingMutex;
std::vector<std::string> pendingFolders;
std::atomic<unsigned> pendingGeneration{1};
thread_local unsigned recordedGeneration = 0;
thread_local std::string recordedFolder;

void rememberFolder(const std::string& folder) {
  const unsigned generation = pendingGeneration.load(std::memory_order_acquire);
  if (recordedGeneration == generation && recordedFolder == folder) return;
  {
    std::lock_guard<std::mutex> lock(pendingMutex);
    bool known = false;
    for (const std::string& f : pendingFolders) known = known || f == folder;
    if (!known) pendingFolders.push_back(folder);
  }
  recordedGeneration = generation;
  recordedFolder = folder;
}

// A new temporary file in `folder` (ending in '/'), created with `mode` through the umask as
// any new file is. The name is unique in the process and checked by O_EXCL.
int createTempBeside(const std::string& folder, mode_t mode, std::string* name) {
  static std::atomic<unsigned> counter{0};
  const long pid = long(::getpid());
  for (int attempt = 0; attempt < 64; ++attempt) {
    char leaf[64];
    std::snprintf(leaf, sizeof leaf, ".vlmsave-%ld-%u", pid, counter.fetch_add(1));
    *name = folder + leaf;
    const int fd = ::open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// After a file was saved into `folder`: the folder is synced now (each file durable at once) or
// remembered for the sync at the end of the batch. Returns 1.
int savedInto(const std::string& folder, bool each) {
  if (!each) {
    rememberFolder(folder);
    return 1;
  }
  int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {  // makes the new name itself durable; failure here loses nothing
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return 1;
}

// Writes a new file at `target` (which does not exist yet) through an unnamed temporary file of
// `folder` that is linked into place once it is complete: one change of the folder instead of
// a create and a rename, so parallel saves into one folder wait less for each other. Returns
// false, leaving nothing behind, when the system cannot do it or the name was taken meanwhile;
// the caller then saves the usual way.
bool saveThroughUnnamedFile(const std::string& folder, const std::string& target,
                            const void* data, size_t size, bool each) {
#ifdef O_TMPFILE
  const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = writeAll(fd, static_cast<const uint8_t*>(data), size);
  ok = ok && (!each || ::fsync(fd) == 0);
  if (ok) {
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    ok = ::linkat(AT_FDCWD, self, AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0;
  }
  // An unlinked file vanishes with its last descriptor; a linked one has its data written.
  ::close(fd);
  return ok;
#else
  (void)folder, (void)target, (void)data, (void)size, (void)each;
  return false;
#endif
}

}  // namespace

const FileFailure& lastFileFailure() {
  return failure;
}

void clearFileFailure() {
  failure = FileFailure();
}

std::string fileFailureText(const FileFailure& f) {
  const std::string cause = f.error ? std::strerror(f.error) : "empty file";
  switch (f.op) {
    case FileOp::READ:
      return f.path + ": " + cause;
    case FileOp::WRITE:
      return "cannot write " + f.path + ": " + cause;
    case FileOp::SYNC:
      return "cannot sync " + f.path + ": " + cause;
    case FileOp::NONE:
      break;
  }
  return f.path.empty() ? std::string("no file failed") : f.path;
}

void setSaveSync(SaveSync mode) {
  syncMode.store(mode, std::memory_order_release);
}

SaveSync saveSync() {
  return syncMode.load(std::memory_order_acquire);
}

int syncSavedFiles() {
  std::vector<std::string> folders;
  {
    std::lock_guard<std::mutex> lock(pendingMutex);
    folders.swap(pendingFolders);
    pendingGeneration.fetch_add(1, std::memory_order_acq_rel);
  }
  int ok = 1;
  std::vector<dev_t> synced;
  for (const std::string& folder : folders) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
      fail(FileOp::SYNC, folder.c_str(), errno);
      ok = 0;
      continue;
    }
    struct stat st;
    bool done = false;
    if (::fstat(fd, &st) == 0) {
      for (dev_t d : synced) done = done || d == st.st_dev;
      // One syncfs writes every file of the batch on that file system, data and names.
      if (!done && ::syncfs(fd) != 0) {
        fail(FileOp::SYNC, folder.c_str(), errno);
        ok = 0;
      } else if (!done) {
        synced.push_back(st.st_dev);
      }
    }
    if (::fsync(fd) != 0 && errno != EINVAL) {
      fail(FileOp::SYNC, folder.c_str(), errno);
      ok = 0;
    }
    ::close(fd);
  }
  return ok;
}

void* loadFile(const char* path, uint8_t** pointer, int32_t* size) {
  if (pointer) *pointer = nullptr;
  if (size) *size = 0;
  if (!path) return nullptr;
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    fail(FileOp::READ, path, errno);
    return nullptr;
  }
  struct stat st;
  int error = 0;
  if (::fstat(fd, &st) != 0)
    error = errno;
  else if (S_ISDIR(st.st_mode))
    error = EISDIR;
  else if (!S_ISREG(st.st_mode))
    error = EINVAL;
  else if (st.st_size > INT32_MAX)
    error = EFBIG;
  if (error || st.st_size <= 0) {
    ::close(fd);
    fail(FileOp::READ, path, error);
    return nullptr;
  }
  uint8_t* data = nullptr;
  void* handle = allocBlock(&data, size_t(st.st_size));
  if (!handle) {
    ::close(fd);
    fail(FileOp::READ, path, ENOMEM);
    return nullptr;
  }
  size_t got = 0;
  bool ok = readAll(fd, data, size_t(st.st_size), &got);
  error = errno;
  ::close(fd);
  if (!ok || got == 0) {
    freeBlock(handle);
    fail(FileOp::READ, path, ok ? 0 : error);
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
  if (!path || !*path || (size && !data)) {
    fail(FileOp::WRITE, path, EINVAL);
    return 0;
  }
  // Write through a symbolic link, as opening the link for writing would.
  std::string target = path;
  struct stat st;
  bool exists = ::lstat(path, &st) == 0;
  if (exists && S_ISLNK(st.st_mode)) {
    if (char* real = ::realpath(path, nullptr)) {
      target = real;
      std::free(real);
    }
    exists = ::stat(target.c_str(), &st) == 0;
  }
  if (exists && S_ISDIR(st.st_mode)) {
    fail(FileOp::WRITE, path, EISDIR);
    return 0;
  }
  const size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? "./" : target.substr(0, slash + 1);

  const bool each = saveSync() == SaveSync::EACH_FILE;
  if (!exists && saveThroughUnnamedFile(dir, target, data, size, each)) return savedInto(dir, each);

  // A new file gets the mode of a normal create (0666 through the umask); a replaced file keeps
  // its permission bits.
  std::string temp;
  int fd = createTempBeside(dir, 0666, &temp);
  if (fd < 0) {
    fail(FileOp::WRITE, path, errno);
    return 0;
  }
  bool ok = writeAll(fd, static_cast<const uint8_t*>(data), size);
  ok = ok && (!exists || ::fchmod(fd, st.st_mode & 07777) == 0);
  ok = ok && (!each || ::fsync(fd) == 0);
  int error = ok ? 0 : errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    fail(FileOp::WRITE, path, error ? error : EIO);
    return 0;
  }
  return savedInto(dir, each);
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
  int fd = ::mkstemps(name.data(), int(std::strlen(TEMP_EXTENSION)));
  if (fd < 0) return nullptr;
  ::close(fd);
  uint8_t* data = nullptr;
  void* handle = allocBlock(&data, name.size() + 1);
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
  parts->drive.clear();
  parts->directory = dir;
  parts->name = name;
  parts->extension = ext;
}

std::string replacePathParts(const char* path, const char* drive, const char* directory,
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
  return joined;
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
