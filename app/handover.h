// Handing the command line of a second start to the player that already runs: a begin message
// announcing the size, the text in pieces of 255 characters, and an end message, each one
// instance-channel message of command 50. The receiver rebuilds the text in a buffer of the
// announced size; the main window then makes it the playlist (clearPlaylist, addPathsToPlaylist)
// and opens the current entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vlm {

inline constexpr int32_t HANDOVER_COMMAND = 50;
inline constexpr uint32_t HANDOVER_BEGIN_LOW = 0;       // low word of the begin message
inline constexpr uint32_t HANDOVER_PIECE_LOW = 1;       // low word: a piece follows in the payload
inline constexpr uint32_t HANDOVER_END = 0xBFFF;        // the whole parameter of the end message
inline constexpr size_t HANDOVER_PIECE_CHARS = 255;     // characters per piece
inline constexpr size_t HANDOVER_PIECE_COPY = 256;      // bytes a piece may fill
inline constexpr size_t HANDOVER_MAX_BUFFER = 1 << 20;  // larger announcements are cut to this

// The size a begin message announces for a text of `length` characters:
// (length / 255 + 1) x 255 + 1, enough for every piece with its terminating zero.
uint32_t handoverAnnouncedSize(size_t length);

// Sends the text to the player `pid`; false when any message was not taken (the text is then
// incomplete there and the receiver ignores it until the next begin).
bool sendCommandLineHandover(int pid, const std::string& commandLine);

// The command-line text a second start hands over: each argument made absolute against the
// current folder (the running player has another one) and joined by joinCommandLine.
std::string handoverCommandLine(const std::vector<std::string>& args);

struct HandoverReceiver {
  std::vector<char> buffer;  // announced size + 1 bytes; the last byte stays zero
  bool begun = false;
};

// Takes one message of command 50. True when it was the end message of a begun handover; the
// text (up to the first zero) is then in `completedText` and the receiver is reset.
bool onHandoverMessage(HandoverReceiver& receiver, uint32_t param, const std::string& payload,
                       std::string* completedText);

}  // namespace vlm
