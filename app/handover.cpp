// Both sides of the second-start handover over the instance channel.
#include "app/handover.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "app/playlist.h"
#include "platform/instance_channel.h"

namespace vlm {

uint32_t handoverAnnouncedSize(size_t length) {
  return uint32_t((length / HANDOVER_PIECE_CHARS + 1) * HANDOVER_PIECE_CHARS + 1);
}

bool sendCommandLineHandover(int pid, const std::string& commandLine) {
  const size_t announced = handoverAnnouncedSize(commandLine.size());
  // The high word carries the size: a text that does not fit the receiver is not sent at all.
  if (announced > HANDOVER_MAX_BUFFER || announced > 0xFFFF) return false;
  if (!sendInstanceMessage(pid, HANDOVER_COMMAND, uint32_t(announced) << 16 | HANDOVER_BEGIN_LOW,
                           std::string()))
    return false;
  uint32_t k = 0;
  for (size_t offset = 0; offset < commandLine.size(); offset += HANDOVER_PIECE_CHARS, ++k) {
    const std::string piece = commandLine.substr(offset, HANDOVER_PIECE_CHARS);
    if (!sendInstanceMessage(pid, HANDOVER_COMMAND, k << 16 | HANDOVER_PIECE_LOW, piece))
      return false;
  }
  return sendInstanceMessage(pid, HANDOVER_COMMAND, HANDOVER_END, std::string());
}

std::string handoverCommandLine(const std::vector<std::string>& args) {
  std::vector<std::string> absolute;
  absolute.reserve(args.size());
  for (const std::string& arg : args) {
    std::error_code ec;
    std::filesystem::path p(arg);
    if (!arg.empty() && p.is_relative() && arg != "clip.txt") {
      std::filesystem::path a = std::filesystem::absolute(p, ec);
      if (!ec) {
        absolute.push_back(a.lexically_normal().string());
        continue;
      }
    }
    absolute.push_back(arg);
  }
  return joinCommandLine(absolute);
}

bool onHandoverMessage(HandoverReceiver& receiver, uint32_t param, const std::string& payload,
                       std::string* completedText) {
  const uint32_t high = param >> 16;
  const uint32_t low = param & 0xFFFF;
  if (param == HANDOVER_END) {
    if (!receiver.begun) return false;
    const char* text = receiver.buffer.data();
    const size_t n = strnlen(text, receiver.buffer.size());
    if (completedText) completedText->assign(text, n);
    receiver.buffer.clear();
    receiver.begun = false;
    return true;
  }
  if (low == HANDOVER_BEGIN_LOW) {
    const size_t size = std::min<size_t>(size_t(high) + 1, HANDOVER_MAX_BUFFER);
    receiver.buffer.assign(size, '\0');
    receiver.begun = true;
    return false;
  }
  // A piece: up to 256 bytes at 255 x k, never past the buffer's last byte (kept zero).
  if (!receiver.begun || receiver.buffer.size() < 2) return false;
  const size_t offset = size_t(high) * HANDOVER_PIECE_CHARS;
  const size_t usable = receiver.buffer.size() - 1;
  if (offset >= usable) return false;
  size_t n = std::min({payload.size(), HANDOVER_PIECE_COPY, usable - offset});
  std::memcpy(receiver.buffer.data() + offset, payload.data(), n);
  // The piece ends the text unless a later piece continues it, as a copied atom's zero did.
  if (offset + n < usable) receiver.buffer[offset + n] = '\0';
  return false;
}

}  // namespace vlm
