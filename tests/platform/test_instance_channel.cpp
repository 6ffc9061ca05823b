// The instance channel between real processes: a child that sends to this process's listener, a
// listener in a child that this process sends to, stale sockets, foreign files in the folder,
// bounds on the message and on the folder itself.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/instance_channel.h"
#include "test_util.h"

namespace vlm {
namespace {

namespace fs = std::filesystem;

class InstanceChannel : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    saved = old ? old : "";
    hadOld = old != nullptr;
    ASSERT_FALSE(runtime.path().empty());
    ::chmod(runtime.path().c_str(), 0700);
    ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
  }
  void TearDown() override {
    if (hadOld)
      ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    else
      ::unsetenv("XDG_RUNTIME_DIR");
  }
  std::string folder() const { return runtime.path() + "/vlmplay/"; }
  std::string socketName(int pid) const { return folder() + std::to_string(pid); }

  // A socket file bound at `path` and then closed: what a crashed player leaves behind.
  static void leaveDeadSocket(const std::string& path) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    ::close(fd);
  }
  // The pid of a process that has already ended.
  static int deadPid() {
    pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
  }
  static bool readable(int fd, int ms) {
    pollfd p = {fd, POLLIN, 0};
    return ::poll(&p, 1, ms) == 1;
  }
  static int exitCode(pid_t child) {
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
  }

  test::ScratchDir runtime;
  std::string saved;
  bool hadOld = false;
};

TEST_F(InstanceChannel, FolderIsPrivateAndRefusedOtherwise) {
  const std::string dir = instanceSocketDir();
  ASSERT_EQ(dir, folder());
  struct stat st;
  ASSERT_EQ(::lstat(dir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  ::chmod(dir.c_str(), 0770);  // group-writable: anyone in the group could plant sockets
  EXPECT_EQ(instanceSocketDir(), "");
  EXPECT_EQ(openInstanceListener(), -1);
  ::chmod(dir.c_str(), 0700);

  // A link in place of the folder is not followed.
  fs::remove(dir);
  test::ScratchDir elsewhere;
  fs::create_directory_symlink(elsewhere.path(), runtime.path() + "/vlmplay");
  EXPECT_EQ(instanceSocketDir(), "");
}

TEST_F(InstanceChannel, ChildSendsToOurListener) {
  const int listener = openInstanceListener();
  ASSERT_GE(listener, 0);
  EXPECT_TRUE(::fcntl(listener, F_GETFD) & FD_CLOEXEC);
  struct stat st;
  ASSERT_EQ(::lstat(socketName(::getpid()).c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));

  std::string payload(70000 - 5000, 'x');
  payload[0] = '\0';  // raw bytes, zeros included
  payload.back() = '\xff';
  const pid_t parent = ::getpid();
  const pid_t child = ::fork();
  if (child == 0) {
    const std::vector<int> others = runningInstances();
    bool sees = std::find(others.begin(), others.end(), int(parent)) != others.end();
    bool sent = sendInstanceMessage(parent, -7, 0xBFFF0001u, payload, 5000);
    ::_exit(sees && sent ? 0 : 1);
  }
  // The prober of runningInstances connects and leaves without a message: that one is dropped.
  InstanceMessage message;
  bool got = false;
  for (int i = 0; i < 3 && !got; ++i) {
    ASSERT_TRUE(readable(listener, 5000));
    got = acceptInstanceMessage(listener, &message);
  }
  ASSERT_TRUE(got);
  EXPECT_EQ(message.command, -7);
  EXPECT_EQ(message.param, 0xBFFF0001u);
  EXPECT_EQ(message.payload, payload);
  EXPECT_EQ(exitCode(child), 0);  // the child saw its acknowledgement

  closeInstanceListener(listener);
  EXPECT_FALSE(fs::exists(fs::symlink_status(socketName(::getpid()))));
}

TEST_F(InstanceChannel, WeSendToAListenerInAChild) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(ready[0]);
    int fd = openInstanceListener();
    char c = fd >= 0 ? 'y' : 'n';
    if (::write(ready[1], &c, 1) != 1) ::_exit(3);
    InstanceMessage m;
    bool ok = false;
    for (int i = 0; i < 5 && !ok; ++i) {
      pollfd p = {fd, POLLIN, 0};
      if (::poll(&p, 1, 5000) != 1) break;
      ok = acceptInstanceMessage(fd, &m);
    }
    closeInstanceListener(fd);
    ::_exit(ok && m.command == 351 && m.param == 7 && m.payload == "reload" ? 0 : 2);
  }
  ::close(ready[1]);
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ::close(ready[0]);
  ASSERT_EQ(c, 'y');

  const std::vector<int> others = runningInstances();
  ASSERT_EQ(others.size(), 1u);
  EXPECT_EQ(others[0], int(child));
  EXPECT_TRUE(sendInstanceMessage(child, 351, 7, "reload"));
  EXPECT_EQ(exitCode(child), 0);
  // The child removed its socket on closing.
  EXPECT_FALSE(fs::exists(fs::symlink_status(socketName(child))));
  EXPECT_TRUE(runningInstances().empty());
}

TEST_F(InstanceChannel, StaleSocketsAreRemoved) {
  ASSERT_FALSE(instanceSocketDir().empty());
  // A socket of a process that is gone.
  const int gone = deadPid();
  leaveDeadSocket(socketName(gone));
  // A socket whose pid lives but belongs to something that does not listen (a reused pid).
  const pid_t sleeper = ::fork();
  if (sleeper == 0) {
    ::pause();
    ::_exit(0);
  }
  leaveDeadSocket(socketName(sleeper));

  EXPECT_TRUE(runningInstances().empty());
  EXPECT_FALSE(fs::exists(fs::symlink_status(socketName(gone))));
  EXPECT_FALSE(fs::exists(fs::symlink_status(socketName(sleeper))));

  // A send to a dead socket fails at once and removes it too.
  leaveDeadSocket(socketName(sleeper));
  EXPECT_FALSE(sendInstanceMessage(sleeper, 50, 0, ""));
  EXPECT_FALSE(fs::exists(fs::symlink_status(socketName(sleeper))));
  ::kill(sleeper, SIGKILL);
  ::waitpid(sleeper, nullptr, 0);
}

TEST_F(InstanceChannel, ForeignFilesAreNeitherFollowedNorRemoved) {
  ASSERT_FALSE(instanceSocketDir().empty());
  // A listening socket outside the folder, reached through a link named like a pid.
  test::ScratchDir outside;
  const std::string target = outside.file("real");
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, target.c_str(), sizeof(addr.sun_path) - 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
  ASSERT_EQ(::listen(fd, 4), 0);
  const int linkPid = deadPid();
  fs::create_symlink(target, socketName(linkPid));
  const int filePid = deadPid();
  test::writeText(socketName(filePid), "not a socket");
  test::writeText(folder() + "notes", "x");

  EXPECT_TRUE(runningInstances().empty());
  EXPECT_FALSE(sendInstanceMessage(linkPid, 50, 0, "x", 300));
  EXPECT_FALSE(readable(fd, 0));  // nothing connected through the link
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(socketName(linkPid))));
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(socketName(filePid))));
  EXPECT_TRUE(fs::exists(folder() + "notes"));
  ::close(fd);
}

TEST_F(InstanceChannel, OwnStaleSocketIsReplacedAtListen) {
  ASSERT_FALSE(instanceSocketDir().empty());
  leaveDeadSocket(socketName(::getpid()));
  const int listener = openInstanceListener();
  EXPECT_GE(listener, 0);
  closeInstanceListener(listener);
  // Under our name, a file that is not a socket was not made by a player: left alone.
  test::writeText(socketName(::getpid()), "keep");
  EXPECT_EQ(openInstanceListener(), -1);
  EXPECT_TRUE(fs::is_regular_file(socketName(::getpid())));
}

TEST_F(InstanceChannel, MessageBounds) {
  const int listener = openInstanceListener();
  ASSERT_GE(listener, 0);
  // Refused before anything is sent.
  EXPECT_FALSE(sendInstanceMessage(::getpid(), 50, 0, std::string(64 * 1024 + 1, 'a')));
  EXPECT_FALSE(readable(listener, 0));
  EXPECT_FALSE(sendInstanceMessage(0, 50, 0, ""));
  EXPECT_FALSE(sendInstanceMessage(deadPid(), 50, 0, ""));

  // Raw senders that lie about the length, send a wrong magic, or stop halfway.
  auto rawSend = [&](const std::vector<uint8_t>& bytes) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, socketName(::getpid()).c_str(), sizeof(addr.sun_path) - 1);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    EXPECT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
    ::shutdown(fd, SHUT_WR);
    return fd;
  };
  const std::vector<uint8_t> header = {'V', 'L', 'M', 'I', 50, 0, 0, 0, 0, 0, 0, 0};
  auto withLength = [&](uint32_t n) {
    std::vector<uint8_t> h = header;
    for (int i = 0; i < 4; ++i) h.push_back(uint8_t(n >> (8 * i)));
    return h;
  };
  InstanceMessage m;
  int fd = rawSend(withLength(64 * 1024 + 1));
  ASSERT_TRUE(readable(listener, 2000));
  auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(acceptInstanceMessage(listener, &m));
  ::close(fd);
  std::vector<uint8_t> badMagic = withLength(0);
  badMagic[0] = 'X';
  fd = rawSend(badMagic);
  ASSERT_TRUE(readable(listener, 2000));
  EXPECT_FALSE(acceptInstanceMessage(listener, &m));
  ::close(fd);
  std::vector<uint8_t> cut = withLength(10);
  cut.push_back('a');
  fd = rawSend(cut);
  ASSERT_TRUE(readable(listener, 2000));
  EXPECT_FALSE(acceptInstanceMessage(listener, &m));
  ::close(fd);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
  // Nothing waiting: no block.
  EXPECT_FALSE(acceptInstanceMessage(listener, &m));

  // A listener that never accepts: the send gives up after its timeout.
  started = std::chrono::steady_clock::now();
  EXPECT_FALSE(sendInstanceMessage(::getpid(), 50, 0, "x", 300));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
  closeInstanceListener(listener);
}

}  // namespace
}  // namespace vlm
