// Run-wide values of one conversion that the stages read or set beside the options: the output
// code, the size limits, the mail flags and whether the run prepares playback.
#pragma once

#include <cstdint>
#include <string>

#include "core/conversion_options.h"
#include "util/files.h"

namespace vlm {

// MailFlags bits.
inline constexpr uint32_t MAIL_TEXT_FORM = 0x01;  // i-melody melody-mail text with marker line
inline constexpr uint32_t MAIL_FILE = 0x02;       // deliver as a mail file
// AutoConvertFlags bits.
inline constexpr uint32_t AUTO_UNATTENDED = 0x01;
inline constexpr uint32_t AUTO_CONVERT_MODE = 0x02;

inline constexpr uint32_t WORK_BUFFER_MARGIN = 131072;

// Run-wide values of the program.
struct RunState {
  int32_t outputSizeLimit = 0;
  int32_t mailTextLimit = 0;
  int32_t lastOutputSize = 0;
  FormatCode currentOutputCode = 0;
  std::string convertedWavePath;  // the .wav made from the current .qcp; empty when none
  std::string lastOutputPath;
  uint32_t MailFlags = 0;
  uint32_t AutoConvertFlags = 0;
  bool forPlayback = false;
  // Set by the format dialog when it wrote the song's texts and marks: the run then keeps them
  // over what its reader finds. Cleared at the end of every convert command.
  bool keepSongRecord = false;
  // Mail dialog values (recipient, subject, attachment name), in Shift-JIS.
  std::string mailTo, mailSubject, mailAttachment;
};
extern thread_local RunState runState;

// Puts every record of a conversion run on this thread back to its start state: the options
// become `base`, and the run values, warnings, song statistics, song record and play range their
// defaults. Whoever starts a run from scratch (a command-line job, the player at start-up, a test)
// calls this instead of resetting the records it happens to know of.
void resetRun(const ConversionOptions& base = ConversionOptions());

}  // namespace vlm
