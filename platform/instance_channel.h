// The channel between running players and the programs that talk to them (a second vlmplay that
// hands over its command line, the setup tool that asks for a reload of the settings). Each
// running vlmplay listens on a local socket named after its process id in instanceSocketDir();
// listing that folder is finding the running players. A message carries a command id, a
// parameter and a payload; every send waits until the receiver has taken the message, so the
// sender may free what it sent right after.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vlm {

struct InstanceMessage {
  int32_t command = 0;
  uint32_t param = 0;
  std::string payload;  // raw bytes (the handover sends Shift-JIS or UTF-8 path text)
};

// $XDG_RUNTIME_DIR/vlmplay/ (fallback /tmp/vlmplay-UID/), created with mode 0700 when missing;
// ends in '/'. Empty when it cannot be made or is not a private folder of this user.
std::string instanceSocketDir();

// Starts listening on the socket of this process; -1 when it cannot. The returned descriptor is
// readable when a sender connects (the GUI watches it with a socket notifier).
int openInstanceListener();
// Stops listening and removes the socket file.
void closeInstanceListener(int fd);
// Accepts one connection on a readable listener and reads its message (bounded: a payload above
// 64 KiB is refused). False when nothing valid arrived; a false never blocks for long.
bool acceptInstanceMessage(int listenFd, InstanceMessage* message);

// Process ids of the other running players, in no particular order. Sockets of processes that
// are gone are removed; entries that are not sockets are left alone and never followed.
std::vector<int> runningInstances();
// Sends one message and waits (at most `timeoutMs`) until the receiver has taken it. False when
// the player is not there or did not answer; a dead socket is removed.
bool sendInstanceMessage(int pid, int32_t command, uint32_t param, const std::string& payload,
                         int timeoutMs = 3000);

}  // namespace vlm
