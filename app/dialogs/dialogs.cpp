// Opening the dialogs: the ones that stay beside the main window are kept by resource so that a
// second call raises them; the others run modally. The screenshot hook opens each in turn.
#include "app/dialogs/dialogs.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QPointer>
#include <QTimer>

#include "app/dialogs/dialog_procs.h"
#include "convert/conversion_run.h"
#include "convert/format_table.h"

namespace vlm::dialogs {

DialogValues dialogValues;

namespace {

constexpr int RESOURCES = 18;
QPointer<TableDialog> openModeless[RESOURCES + 1];
int modalDepth = 0;

bool isModeless(int resource) {
  switch (resource) {
    case DLG_VOLUME:
    case DLG_PROPERTIES:
    case DLG_RANGE:
    case DLG_VOICES:
    case DLG_OCTAVE:
    case DLG_DRUMS:
    case DLG_CHANNELS:
      return true;
  }
  return false;
}

// An output code that the file settings template of a resource serves, for opening it outside
// a conversion: the current output's, else the first output of the table that has it.
FormatCode sampleCode(int resource) {
  if (fileSettingsResource(runState.currentOutputCode) == resource)
    return runState.currentOutputCode;
  int count = 0;
  const OutputFormat* formats = outputFormats(&count);
  for (int i = 0; i < count; ++i)
    if (formats[i].dialog == resource && resource != DLG_MAIL) return formats[i].code;
  return 0;
}

bool isFileSettings(int resource) {
  return sampleCode(resource) != 0 && resource != DLG_MAIL;
}

// Outside a conversion a file settings dialog shows what a conversion to its output would
// start from: that output's preset and size limits.
void prepareFileSettings(FormatCode code) {
  const OutputFormat* f = findOutputFormat(code);
  if (!f) return;
  runState.forPlayback = false;
  applyOutputPreset(code);
  runState.outputSizeLimit = outputSizeSetting(*f);
  runState.mailTextLimit = f->mailTextLimit;
}

TableDialog* makeDialog(int resource, QWidget* parent) {
  switch (resource) {
    case DLG_VOLUME:
      return makeVolumeDialog(parent);
    case DLG_PROPERTIES:
      return makePropertiesDialog(parent);
    case DLG_RANGE:
      return makeRangeDialog(parent);
    case DLG_CONVERSION:
      return makeConversionDialog(parent);
    case DLG_ABOUT:
      return makeAboutDialog(parent);
    case DLG_MAIL:
      return makeMailDialog(parent);
    case DLG_VOICES:
      return makeVoicesDialog(parent);
    case DLG_OCTAVE:
      return makeOctaveDialog(parent);
    case DLG_DRUMS:
      return makeDrumsDialog(parent);
    case DLG_CHANNELS:
      return makeChannelsDialog(parent);
    case DLG_DETAILS:
      return makeDetailsDialog(parent);
    case DLG_TEXT_INFO:
      return makeTextInfoDialog(parent);
    case DLG_PMD_FILE:
    case DLG_MLD_FILE:
    case DLG_MIDI_FILE:
    case DLG_SMAF_FILE:
    case DLG_DXM_FILE:
    case DLG_MLD2_FILE:
      return makeFileSettingsDialog(resource, sampleCode(resource), parent);
  }
  return nullptr;
}

int runModal(TableDialog* d, bool confirmAtOnce) {
  d->load();
  if (confirmAtOnce) QTimer::singleShot(0, d, [d] { d->acceptWithWrite(); });
  ++modalDepth;
  const int r = d->exec();
  --modalDepth;
  delete d;
  return r == QDialog::Accepted ? DLG_OK : DLG_CANCEL;
}

const char* screenshotName(int resource) {
  static const char* const names[RESOURCES + 1] = {
      "",      "volume",   "pmd-file", "properties", "range",     "conversion", "about",
      "mail",  "voices",   "mld-file", "midi-file",  "smaf-file", "dxm-file",   "octave",
      "drums", "channels", "details",  "text-info",  "mld40-file"};
  return (resource >= 1 && resource <= RESOURCES) ? names[resource] : "";
}

}  // namespace

int openDialog(int resource, QWidget* parent) {
  if (resource < 1 || resource > RESOURCES) return -1;
  if (isModeless(resource)) {
    if (TableDialog* d = openModeless[resource]) {
      d->show();
      d->raise();
      d->activateWindow();
      return 0;
    }
    TableDialog* d = makeDialog(resource, parent);
    if (!d) return -1;
    d->setAttribute(Qt::WA_DeleteOnClose);
    d->setModal(false);
    d->load();
    openModeless[resource] = d;
    d->show();
    return 0;
  }
  if (resource == DLG_MAIL) return runMailDialog(parent);
  if (isFileSettings(resource) && fileSettingsResource(runState.currentOutputCode) != resource)
    prepareFileSettings(sampleCode(resource));
  TableDialog* d = makeDialog(resource, parent);
  if (!d) return -1;
  return runModal(d, false);
}

bool anyDialogOpen() {
  if (modalDepth > 0) return true;
  for (const auto& d : openModeless)
    if (d && d->isVisible()) return true;
  return false;
}

void closeAllDialogs() {
  for (auto& d : openModeless) {
    if (d) {
      d->hide();
      delete d.data();
    }
  }
}

int runFileSettingsDialog(int resource, FormatCode output, QWidget* parent, bool confirmAtOnce) {
  TableDialog* d = makeFileSettingsDialog(resource, output, parent);
  if (!d) return DLG_OK;  // an output without a settings template converts as it is
  return runModal(d, confirmAtOnce);
}

int runMailDialog(QWidget* parent) {
  TableDialog* d = makeMailDialog(parent);
  return runModal(d, false);
}

int writeDialogScreenshots(const char* dir, QWidget* parent) {
  if (!dir) return 0;
  QDir().mkpath(QString::fromUtf8(dir));
  int written = 0;
  for (int resource = 1; resource <= RESOURCES; ++resource) {
    // Nothing of what a dialog shows or prepares stays behind.
    const TargetPreset preset = options.preset;
    const RunState run = runState;
    if (isFileSettings(resource)) prepareFileSettings(sampleCode(resource));
    TableDialog* d = makeDialog(resource, parent);
    if (d) d->load();
    options.preset = preset;
    runState = run;
    if (!d) continue;
    d->show();
    d->adjustSize();
    QApplication::processEvents();
    const QPixmap picture = d->grab();
    const QString path = QStringLiteral("%1/dialog-%2-%3.png")
                             .arg(QString::fromUtf8(dir))
                             .arg(resource, 2, 10, QLatin1Char('0'))
                             .arg(QString::fromLatin1(screenshotName(resource)));
    if (picture.save(path)) ++written;
    d->hide();  // closed without writing anything back
    delete d;
  }
  return written;
}

}  // namespace vlm::dialogs
