// The conversion run: input image through the reader, fade pass, transform and writer, delivered
// to a file, the clipboard or a mail file. Playback and every convert command go through it.
#pragma once

#include <cstdint>
#include <string>

#include "convert/format_table.h"
#include "convert/options.h"
#include "core/run_state.h"
#include "util/files.h"
#include "util/memblock.h"

namespace vlm {

// The dialogs and boxes a conversion may show. The command line answers without asking; the
// GUI shows real dialogs.
class ConversionUi {
 public:
  virtual ~ConversionUi() = default;
  // Format option dialog of an output; false = Cancel. May change options and MailFlags.
  virtual bool formatDialog(int dialogId, FormatCode output) = 0;
  // Mail dialog: may edit runState.mailTo / mailSubject / mailAttachment; false = Cancel.
  virtual bool mailDialog() = 0;
  // Save dialog proposing `path` (may be changed); false = Cancel.
  virtual bool saveDialog(std::string& path, FormatCode output) = 0;
  // Warning box with OK and Cancel (caption "警告"); false = Cancel. Text is UTF-8.
  virtual bool warningBox(const char* text) = 0;
  // Notice box (caption "お知らせ").
  virtual void noticeBox(const char* text) = 0;
  // Error box with the device's text and the caption "ERROR".
  virtual void errorBox(const char* text) = 0;
  // Opens a saved file with the desktop's default action (the mail file).
  virtual void openWithShell(const char* path) = 0;
  // Sets the window title.
  virtual void setTitle(const char* title) = 0;
  // A message of the run in the interface's language. The Japanese text (UTF-8) is the key and
  // the default; a "%d" in it stands for a number the run fills in afterwards.
  virtual std::string localText(const char* japanese) { return japanese; }
};
void setConversionUi(ConversionUi* ui);
ConversionUi& conversionUi();

// Program directory for files the program writes (melody.eml): $XDG_DATA_HOME/vlmplay/.
std::string writableDataDir();

void applyOutputPreset(FormatCode code);
void adjustForRun(FormatCode code);
int runConversion(const char* input, const char* output, FormatCode inputCode,
                  FormatCode outputCode);
// Loads an input (a file or "clip.txt"), decodes a melody-mail text and runs the reader of its
// code; the caller frees `stream`. A .vlm image comes back as it is. 0 when nothing was read.
int readInput(const char* input, FormatCode inputCode, MemBlock* stream);
int preparePlayback(const char* input, const char* tempPath);
int convertCommand(const char* input, FormatCode outputCode);
// The warning lines of the last run (UTF-8, "\r\n" after each), as convertCommand shows them.
std::string collectWarnings(FormatCode outputCode, const OutputFormat* format);

// Largest binary size whose melody-mail text fits `mailTextLimit` characters.
int32_t binaryLimitForMailText(int32_t mailTextLimit);

// The player's hand-over point: receives the input and the temporary SMF of a playback run, on
// the run's thread right after it (so the song's SMAF voice set is the input's).
using PlaybackFileHook = void (*)(const char* input, const char* path);
void setPlaybackFileHook(PlaybackFileHook hook);

}  // namespace vlm
