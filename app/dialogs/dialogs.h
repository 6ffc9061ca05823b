// The settings dialogs of the player. Each is a table of controls (id, kind, label, option,
// range) built into widgets by one builder, plus a procedure for what a table cannot say. The
// main window and the conversion run open them through these calls only.
#pragma once

#include <cstdint>
#include <functional>

#include "convert/options.h"

class QWidget;

namespace vlm::dialogs {

// Dialog resource numbers.
inline constexpr int DLG_VOLUME = 1;
inline constexpr int DLG_PMD_FILE = 2;
inline constexpr int DLG_PROPERTIES = 3;
inline constexpr int DLG_RANGE = 4;
inline constexpr int DLG_CONVERSION = 5;
inline constexpr int DLG_ABOUT = 6;
inline constexpr int DLG_MAIL = 7;
inline constexpr int DLG_VOICES = 8;
inline constexpr int DLG_MLD_FILE = 9;
inline constexpr int DLG_MIDI_FILE = 10;
inline constexpr int DLG_SMAF_FILE = 11;
inline constexpr int DLG_DXM_FILE = 12;
inline constexpr int DLG_OCTAVE = 13;
inline constexpr int DLG_DRUMS = 14;
inline constexpr int DLG_CHANNELS = 15;
inline constexpr int DLG_DETAILS = 16;
inline constexpr int DLG_TEXT_INFO = 17;
inline constexpr int DLG_MLD2_FILE = 18;

// Dialog results.
inline constexpr int DLG_OK = 1;
inline constexpr int DLG_CANCEL = 2;

// Values the dialogs edit that the options record does not hold (kept while the program runs).
struct DialogValues {
  int compressVolume = 0;        // conversion settings 101: volume of compressed notes, 0 = none
  int compressProgram = 0;       // 102: program of compressed notes + 1, 0 = none
  int drumReplace = 0;           // 601 + 104: bit 7 on, low 7 bits the program
  bool voiceDataOutput = false;  // voices 602 "音色ﾃﾞｰﾀ出力"
  bool feelsoundNames = false;   // voices 601 "feelsound音色名"
  uint16_t textConvertMask = 0x1FF;    // text information 601..609, bit n = edit 101 + n
  uint64_t rhythmKeep = ~uint64_t(0);  // drums 601..664, bit n = check box 601 + n

  bool operator==(const DialogValues&) const = default;
};
extern DialogValues dialogValues;

// The main window's command entry; "適用" sends 56 through it. Set by the main window.
void setCommandSink(std::function<void(int id, int param)> sink);

// Opens a dialog of the main window. The volume, properties, range, voices, octave, drums and
// channels dialogs stay open beside the window (the call returns 0 at once, and a second call
// raises the open one); the others are modal and return DLG_OK or DLG_CANCEL. -1: no such dialog.
int openDialog(int resource, QWidget* parent);
// True while any dialog of the player is open (the end of a song does not move on then).
bool anyDialogOpen();
// Closes every open dialog without writing (at exit).
void closeAllDialogs();

// The file settings dialog of an output before a conversion saves (modal): DLG_OK or
// DLG_CANCEL. With `confirmAtOnce` it answers OK by itself right after opening (automatic
// conversion mode).
int runFileSettingsDialog(int resource, FormatCode output, QWidget* parent, bool confirmAtOnce);
// The melody-mail dialog (modal): DLG_OK or DLG_CANCEL.
int runMailDialog(QWidget* parent);

// Opens every dialog in turn over `parent` (a song loaded, so that the statics show values),
// grabs it into DIR/dialog-NN.png and closes it without writing. Returns the number written.
int writeDialogScreenshots(const char* dir, QWidget* parent);

}  // namespace vlm::dialogs
