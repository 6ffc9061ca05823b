// Local stream sockets between the running players and the programs that talk to them. One
// message per connection: a 16-byte header (magic, command, parameter, payload length, all
// little-endian), the payload, and one acknowledgement byte from the receiver once it has copied
// everything, so a send returns only when the message has been taken.
#include "platform/instance_channel.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vlm {

namespace {

constexpr uint32_t MESSAGE_MAGIC = 0x494D4C56;  // "VLMI"
constexpr size_t HEADER_SIZE = 16;
constexpr uint32_t MAX_PAYLOAD = 64 * 1024;
constexpr uint8_t ACK_BYTE = 0x06;
// How long a receiver waits for the rest of a message once a sender has connected.
constexpr int RECEIVE_TIMEOUT_MS = 1000;

void putLe32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

uint32_t getLe32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

int64_t nowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int remainingMs(int64_t deadline) {
  int64_t left = deadline - nowMs();
  return left > 0 ? int(left) : 0;
}

// Waits for `events` on fd until the deadline; false on timeout, error or hang-up without data.
bool waitFor(int fd, short events, int64_t deadline) {
  for (;;) {
    pollfd p = {fd, events, 0};
    int r = ::poll(&p, 1, remainingMs(deadline));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    if (p.revents & events) return true;
    return false;  // POLLERR / POLLHUP / POLLNVAL without what we wait for
  }
}

bool readAll(int fd, uint8_t* out, size_t n, int64_t deadline) {
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::recv(fd, out + done, n - done, 0);
    if (r > 0) {
      done += size_t(r);
      continue;
    }
    if (r == 0) return false;  // the peer went away early
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
    if (!waitFor(fd, POLLIN, deadline)) return false;
  }
  return true;
}

bool writeAll(int fd, const uint8_t* data, size_t n, int64_t deadline) {
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::send(fd, data + done, n - done, MSG_NOSIGNAL);
    if (r > 0) {
      done += size_t(r);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    if (!waitFor(fd, POLLOUT, deadline)) return false;
  }
  return true;
}

// A private folder: a real directory (not a link) of this user that nobody else may write to.
bool isPrivateFolder(const std::string& dir) {
  struct stat st;
  if (::lstat(dir.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode)) return false;
  if (st.st_uid != ::geteuid()) return false;
  if (st.st_mode & (S_IWGRP | S_IWOTH)) return false;
  return true;
}

bool socketAddress(const std::string& path, sockaddr_un* addr) {
  std::memset(addr, 0, sizeof(*addr));
  addr->sun_family = AF_UNIX;
  if (path.size() >= sizeof(addr->sun_path)) return false;
  std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

std::string socketPathOf(const std::string& dir, int pid) {
  return dir + std::to_string(pid);
}

bool isSocketFile(const std::string& path, struct stat* st) {
  return ::lstat(path.c_str(), st) == 0 && S_ISSOCK(st->st_mode);
}

// Removes the socket file only while it is still the one that was looked at (same inode), so a
// new player that took over the name in between keeps its socket.
void unlinkSameSocket(const std::string& path, const struct stat& seen) {
  struct stat now;
  if (isSocketFile(path, &now) && now.st_ino == seen.st_ino && now.st_dev == seen.st_dev)
    ::unlink(path.c_str());
}

enum class ConnectResult { Connected, Refused, Failed };

// Connects to a socket file; the descriptor is non-blocking and close-on-exec.
ConnectResult connectTo(const std::string& path, int64_t deadline, int* fdOut) {
  sockaddr_un addr;
  if (!socketAddress(path, &addr)) return ConnectResult::Failed;
  for (;;) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return ConnectResult::Failed;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0) {
      *fdOut = fd;
      return ConnectResult::Connected;
    }
    const int err = errno;
    ::close(fd);
    if (err == ECONNREFUSED || err == ENOENT) return ConnectResult::Refused;
    // A full backlog answers EAGAIN on a non-blocking local socket: try again shortly.
    if ((err == EAGAIN || err == EINTR) && remainingMs(deadline) > 0) {
      ::usleep(10000);
      continue;
    }
    return ConnectResult::Failed;
  }
}

bool processGone(int pid) {
  return ::kill(pid, 0) != 0 && errno == ESRCH;
}

bool allDigits(const char* name) {
  if (!*name) return false;
  for (const char* p = name; *p; ++p)
    if (*p < '0' || *p > '9') return false;
  return true;
}

}  // namespace

std::string instanceSocketDir() {
  std::string dir;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/' && isPrivateFolder(runtime)) {
    dir = std::string(runtime);
    if (dir.back() != '/') dir += '/';
    dir += "vlmplay";
  } else {
    dir = "/tmp/vlmplay-" + std::to_string(::geteuid());
  }
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return std::string();
  if (!isPrivateFolder(dir)) return std::string();
  return dir + "/";
}

int openInstanceListener() {
  const std::string dir = instanceSocketDir();
  if (dir.empty()) return -1;
  const std::string path = socketPathOf(dir, ::getpid());
  sockaddr_un addr;
  if (!socketAddress(path, &addr)) return -1;

  struct stat st;
  if (::lstat(path.c_str(), &st) == 0) {
    // Our own pid's name: a socket left by an earlier process that had this pid and crashed.
    // Anything else under that name was not made by a player and is left alone.
    if (!S_ISSOCK(st.st_mode)) return -1;
    ::unlink(path.c_str());
  }
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || ::listen(fd, 16) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

void closeInstanceListener(int fd) {
  if (fd < 0) return;
  sockaddr_un addr;
  socklen_t len = sizeof(addr);
  std::memset(&addr, 0, sizeof(addr));
  // The bound name comes from the socket itself, so a forked child that closes an inherited
  // listener never removes some other process's file.
  const bool named = ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0 &&
                     addr.sun_family == AF_UNIX && addr.sun_path[0] != '\0';
  ::close(fd);
  if (!named) return;
  addr.sun_path[sizeof(addr.sun_path) - 1] = '\0';
  const std::string path = addr.sun_path;
  const std::string ownName = "/" + std::to_string(::getpid());
  struct stat st;
  if (path.size() > ownName.size() &&
      path.compare(path.size() - ownName.size(), ownName.size(), ownName) == 0 &&
      isSocketFile(path, &st))
    ::unlink(path.c_str());
}

bool acceptInstanceMessage(int listenFd, InstanceMessage* message) {
  if (listenFd < 0 || !message) return false;
  int fd = -1;
  for (;;) {
    fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd >= 0 || errno != EINTR) break;
  }
  if (fd < 0) return false;

  bool ok = false;
  ucred peer = {};
  socklen_t peerLen = sizeof(peer);
  const int64_t deadline = nowMs() + RECEIVE_TIMEOUT_MS;
  uint8_t header[HEADER_SIZE];
  // The folder is private already; the peer check keeps it so if its mode is ever widened.
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &peerLen) == 0 && peer.uid == ::geteuid() &&
      readAll(fd, header, HEADER_SIZE, deadline) && getLe32(header) == MESSAGE_MAGIC) {
    const uint32_t length = getLe32(header + 12);
    if (length <= MAX_PAYLOAD) {
      std::string payload(length, '\0');
      if (length == 0 ||
          readAll(fd, reinterpret_cast<uint8_t*>(payload.data()), length, deadline)) {
        message->command = int32_t(getLe32(header + 4));
        message->param = getLe32(header + 8);
        message->payload = std::move(payload);
        const uint8_t ack = ACK_BYTE;
        writeAll(fd, &ack, 1, deadline);  // a sender that gave up already loses nothing
        ok = true;
      }
    }
  }
  ::close(fd);
  return ok;
}

std::vector<int> runningInstances() {
  std::vector<int> pids;
  const std::string dir = instanceSocketDir();
  if (dir.empty()) return pids;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return pids;
  const int self = ::getpid();
  while (dirent* e = ::readdir(d)) {
    if (!allDigits(e->d_name) || std::strlen(e->d_name) > 9) continue;
    const int pid = std::atoi(e->d_name);
    if (pid <= 0 || pid == self) continue;
    const std::string path = dir + e->d_name;
    struct stat st;
    if (!isSocketFile(path, &st)) continue;  // never followed, never removed
    if (processGone(pid)) {
      unlinkSameSocket(path, st);
      continue;
    }
    // The pid may belong to an unrelated process now: only a listening socket counts. The
    // receiver sees a connection that closes without a message and drops it.
    int fd = -1;
    const ConnectResult r = connectTo(path, nowMs() + 200, &fd);
    if (r == ConnectResult::Refused) {
      unlinkSameSocket(path, st);
      continue;
    }
    if (fd >= 0) ::close(fd);
    pids.push_back(pid);
  }
  ::closedir(d);
  return pids;
}

bool sendInstanceMessage(int pid, int32_t command, uint32_t param, const std::string& payload,
                         int timeoutMs) {
  if (pid <= 0 || payload.size() > MAX_PAYLOAD) return false;
  const std::string dir = instanceSocketDir();
  if (dir.empty()) return false;
  const std::string path = socketPathOf(dir, pid);
  struct stat st;
  if (!isSocketFile(path, &st)) return false;
  const int64_t deadline = nowMs() + (timeoutMs > 0 ? timeoutMs : 0);

  int fd = -1;
  const ConnectResult r = connectTo(path, deadline, &fd);
  if (r == ConnectResult::Refused) {
    unlinkSameSocket(path, st);
    return false;
  }
  if (r != ConnectResult::Connected) return false;

  std::string wire(HEADER_SIZE, '\0');
  uint8_t* h = reinterpret_cast<uint8_t*>(wire.data());
  putLe32(h, MESSAGE_MAGIC);
  putLe32(h + 4, uint32_t(command));
  putLe32(h + 8, param);
  putLe32(h + 12, uint32_t(payload.size()));
  wire += payload;
  bool ok = writeAll(fd, reinterpret_cast<const uint8_t*>(wire.data()), wire.size(), deadline);
  uint8_t ack = 0;
  ok = ok && readAll(fd, &ack, 1, deadline) && ack == ACK_BYTE;
  ::close(fd);
  return ok;
}

}  // namespace vlm
