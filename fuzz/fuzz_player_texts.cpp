// The texts the player takes from outside: .m3u lists, command lines handed over by a second
// start (split into names, and reassembled from pieces whose sizes and positions the sender
// chose), and the voice-name tables. None may read or write outside its buffers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/handover.h"
#include "app/playlist.h"
#include "app/voice_names.h"
#include "convert/path_expansion.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 16)) return 0;
  const char* text = reinterpret_cast<const char*>(data);

  size_t entries = 0;
  vlm::walkPlaylistText(text, size, "/nonexistent", [&](const std::string& path) {
    if (path.empty()) __builtin_trap();
    return ++entries < 64;
  });

  // A name is never longer than the text, but for "~/" standing for the home folder.
  const std::string line(text, size);
  const char* home = std::getenv("HOME");
  const size_t longest = size + (home ? std::strlen(home) : 0);
  for (const std::string& name : vlm::splitCommandLine(line.c_str()))
    if (name.size() > longest) __builtin_trap();

  vlm::VoiceNameTable table;
  vlm::parseVoiceNames(data, size, table);

  // Messages: 4 bytes of parameter, 1 byte of payload length, then the payload.
  vlm::HandoverReceiver receiver;
  std::string completed;
  for (size_t at = 0; at + 5 <= size;) {
    const uint32_t param = uint32_t(data[at]) | uint32_t(data[at + 1]) << 8 |
                           uint32_t(data[at + 2]) << 16 | uint32_t(data[at + 3]) << 24;
    size_t length = data[at + 4];
    at += 5;
    if (length > size - at) length = size - at;
    vlm::onHandoverMessage(receiver, param, std::string(text + at, length), &completed);
    // The announcement is a 16-bit count: no text can outgrow it.
    if (completed.size() > 0x10000) __builtin_trap();
    at += length;
  }
  return 0;
}
