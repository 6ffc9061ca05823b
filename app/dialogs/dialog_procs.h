// The dialogs' own procedures, shared between the sources of the dialogs library and its tests.
#pragma once

#include <string>

#include "app/dialogs/dialog_table.h"
#include "app/dialogs/dialogs.h"
#include "convert/options.h"

namespace vlm::dialogs {

// ---- File settings (resources 2, 9, 10, 11, 12, 18) ----

// The file settings resource of an output code (the output table's dialog column), 0 = none.
int fileSettingsResource(FormatCode code);
// Whether a control of the file settings dialog is enabled for an output code; `noteOn` is the
// state of 607 (the i-melody wide range) that 608 and 612 follow on PMD. Controls absent from
// the template of the code are reported as disabled.
bool fileSettingsEnabled(int id, FormatCode code, bool noteOn);
// Whether the template of a resource holds the control.
bool fileSettingsHas(int resource, int id);
// Highest polyphony that 111 accepts for a code.
int fileSettingsMaxPolyphony(FormatCode code);
TableDialog* makeFileSettingsDialog(int resource, FormatCode code, QWidget* parent);

// ---- The other dialogs ----
TableDialog* makeVolumeDialog(QWidget* parent);
TableDialog* makePropertiesDialog(QWidget* parent);
TableDialog* makeRangeDialog(QWidget* parent);
TableDialog* makeConversionDialog(QWidget* parent);
TableDialog* makeAboutDialog(QWidget* parent);
TableDialog* makeMailDialog(QWidget* parent);
TableDialog* makeVoicesDialog(QWidget* parent);
TableDialog* makeOctaveDialog(QWidget* parent);
TableDialog* makeDrumsDialog(QWidget* parent);
TableDialog* makeChannelsDialog(QWidget* parent);
TableDialog* makeDetailsDialog(QWidget* parent);
TableDialog* makeTextInfoDialog(QWidget* parent);

// The text of the properties report (UTF-8 lines).
QString propertiesReport();
// The range text of a channel's statics in the volume dialog: "%d" or "%d～%d", empty when
// the channel has no notes; `channel` 16 is the velocity over all channels.
QString volumeRangeText(int channel, bool velocity, int globalPercent, int channelPercent);

// The English voice names (UTF-8), empty outside their range: General MIDI programs 0..127,
// rhythm notes by note number (27..87), feelsound programs 0..127.
const char* gmProgramName(int program);
const char* gmDrumName(int note);
std::string feelsoundProgramName(int program);

}  // namespace vlm::dialogs
