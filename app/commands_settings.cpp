// Switches of the settings menu, the panels shown, the display colour, the settings file
// (loaded at start-up and when the setup tool asks, written at exit), the external-application
// menu items and the custom buttons.
#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <cstdio>

#include "app/graphic_button.h"
#include "app/main_window.h"
#include "app/menu_table.h"
#include "app/panels/panels.h"
#include "app/qt_ui.h"
#include "convert/conversion_run.h"
#include "convert/options.h"
#include "platform/clipboard.h"
#include "platform/text.h"

namespace vlm {

namespace {

// The desktop clipboard behind the conversion run's clipboard calls. Texts stay Shift-JIS
// inside the program.
class QtClipboard : public ClipboardBackend {
 public:
  bool getText(std::string& text) override {
    const QString t = QGuiApplication::clipboard()->text();
    if (t.isEmpty()) return false;
    text = utf8ToSjis(t.toUtf8().toStdString());
    return true;
  }
  void putText(const char* text, size_t length) override {
    QGuiApplication::clipboard()->setText(QString::fromUtf8(sjisToUtf8(text, length).c_str()));
  }
};

struct BoolSwitch {
  int id;
  bool ConversionOptions::*flag;
  bool reprepare;  // changes what is played: the loaded song is prepared again
};
const BoolSwitch SWITCHES[] = {
    {229, &ConversionOptions::panleft, true},     {225, &ConversionOptions::hinote, true},
    {279, &ConversionOptions::bendecoflg, true},  {234, &ConversionOptions::chgtime, true},
    {221, &ConversionOptions::restcut, true},     {302, &ConversionOptions::endrestcut, true},
    {228, &ConversionOptions::allchreset, false}, {223, &ConversionOptions::makeendrest, false},
    {305, &ConversionOptions::gmriset, true},     {307, &ConversionOptions::gsmode, true},
    {301, &ConversionOptions::exclusive, true},   {304, &ConversionOptions::toprest, true},
    {222, &ConversionOptions::endrest, true},     {303, &ConversionOptions::autoplay, false},
    {231, &ConversionOptions::vol70per, false},
};

struct RealBit {
  int id;
  int bit;
};
const RealBit REAL_BITS[] = {
    {275, REAL_MODULATION}, {274, REAL_STEREO},     {272, REAL_HOLD},
    {271, REAL_PITCH_BEND}, {276, REAL_BEND_RANGE}, {277, REAL_OTHER_CONTROLLERS},
};

struct PanelSwitch {
  int id;
  bool ConversionOptions::*flag;
};
const PanelSwitch PANELS[] = {
    {252, &ConversionOptions::chnpanel},      {253, &ConversionOptions::display},
    {254, &ConversionOptions::counter},       {256, &ConversionOptions::playlist},
    {257, &ConversionOptions::karaoke},       {258, &ConversionOptions::chmonita},
    {259, &ConversionOptions::karaokescroll}, {260, &ConversionOptions::plusbtnflg},
    {261, &ConversionOptions::custbtnflg},
};

}  // namespace

bool MainWindow::settingsCommand(int id, int) {
  for (const BoolSwitch& s : SWITCHES) {
    if (s.id != id) continue;
    options.*(s.flag) = !(options.*(s.flag));
    if (s.reprepare) apply();
    return true;
  }
  for (const RealBit& r : REAL_BITS) {
    if (r.id != id) continue;
    options.real ^= r.bit;
    apply();
    return true;
  }
  switch (id) {
    case 206:
      options.real = options.real ? 0 : 127;
      apply();
      return true;
    case 278:
      options.bendsepflg = !options.bendsepflg;
      if (options.bendsepflg) options.real &= ~(REAL_PITCH_BEND | REAL_BEND_RANGE);
      apply();
      return true;
    case 251:
      options.topmost = !options.topmost;
      relayout();
      return true;
    case 281:
    case 282:
    case 283:
    case 284:
    case 285: {
      const int mode = id - 280;
      options.midmono = options.midmono == mode ? 0 : mode;
      apply();
      return true;
    }
    case 351:
      loadAllSettings(false);
      return true;
    default:
      break;
  }
  if (id >= CMD_COLOUR_FIRST && id <= CMD_COLOUR_FIRST + 8) {
    options.dispcolor = id - CMD_COLOUR_FIRST;
    if (options.dispcolor >= 8)
      pickRandomColour();
    else
      display_->setColour(options.dispcolor);
    return true;
  }
  return false;
}

bool MainWindow::panelCommand(int id, int) {
  for (const PanelSwitch& p : PANELS) {
    if (p.id != id) continue;
    options.*(p.flag) = !(options.*(p.flag));
    relayout();
    return true;
  }
  return false;
}

void MainWindow::loadAllSettings(bool startUp) {
  static QtClipboard clipboard;
  setClipboardBackend(&clipboard);
  // The history is the window's own while it runs; a reload asked by the setup tool keeps it.
  std::string history[HISTORY_SLOTS + 1];
  const int historyCount = options.hsfcount;
  if (startUp) resetRun();
  if (!startUp)
    for (int s = 0; s <= HISTORY_SLOTS; ++s) history[s] = options.histfile[s];
  loadSettings(settingsFile_.c_str());
  if (!startUp) {
    for (int s = 0; s <= HISTORY_SLOTS; ++s) options.histfile[s] = history[s];
    options.hsfcount = historyCount;
  }
  applyPanels();
}

void MainWindow::applyPanels() {
  setButtonFilesEnabled(options.filebutton);
  if (options.dispcolor >= 8)
    pickRandomColour();
  else
    display_->setColour(options.dispcolor);
  rebuildHistoryMenu();
  rebuildExternalApps();
  refreshCustomTooltips();
  relayout();
  refreshMenuChecks();
}

void MainWindow::saveAllSettings() {
  // The file now playing is written first, so the next start has it at the top of the history.
  std::string kept[HISTORY_SLOTS + 1];
  const int keptCount = options.hsfcount;
  for (int s = 0; s <= HISTORY_SLOTS; ++s) kept[s] = options.histfile[s];
  if (keptCount > 0 && !kept[0].empty()) {
    options.histfile[0].clear();
    for (int s = 1; s <= HISTORY_SLOTS; ++s) options.histfile[s] = kept[s - 1];
    options.hsfcount = std::min(keptCount + 1, HISTORY_SLOTS + 1);
  }
  saveSettings(settingsFile_.c_str());
  for (int s = 0; s <= HISTORY_SLOTS; ++s) options.histfile[s] = kept[s];
  options.hsfcount = keptCount;
}

void MainWindow::rebuildExternalApps() {
  for (QAction* a : externalActions_) {
    toolsMenu_->removeAction(a);
    for (auto it = actions_.begin(); it != actions_.end(); ++it)
      if (it->second == a) {
        actions_.erase(it);
        break;
      }
    a->deleteLater();
  }
  externalActions_.clear();
  static const int FUNCTION_KEYS[EXT_APPS] = {4, 5, 6, 7, 8, 9, 11, 12};
  for (int i = 1; i <= EXT_APPS; ++i) {
    if (options.appFile[i - 1].empty()) continue;
    std::string name = sjisToUtf8(options.appName[i - 1]);
    if (name.empty()) {
      char fallback[32];
      std::snprintf(fallback, sizeof fallback, "外部ｿﾌﾄ%d", i);
      name = fallback;
    }
    char text[96];
    std::snprintf(text, sizeof text, "%s\tF%d", name.c_str(), FUNCTION_KEYS[i - 1]);
    const int id = CMD_EXT_APP_FIRST + i - 1;
    auto* a = new QAction(QString::fromUtf8(text), toolsMenu_);
    connect(a, &QAction::triggered, this, [this, id] {
      if (customAssign_ && assignCustomButton(id)) return;
      onCommand(id);
    });
    toolsMenu_->insertAction(mailAction_, a);
    externalActions_.push_back(a);
    actions_[id] = a;
  }
}

void MainWindow::refreshCustomTooltips() {
  for (int i = 1; i <= CUSTOM_BUTTONS; ++i) {
    GraphicButton* b = button(CMD_CUSTOM_FIRST + i - 1);
    if (!b) continue;
    QString text;
    const int cmd = options.custmenu[i - 1];
    if (QAction* a = action(cmd))
      text = QString::fromUtf8(plainMenuText(a->text().toStdString()).c_str());
    b->setTooltipText(text.isEmpty() ? QStringLiteral("未登録") : text);
  }
}

void MainWindow::customButtonPressed(int n) {
  if (n < 1 || n > CUSTOM_BUTTONS) return;
  const int cmd = options.custmenu[n - 1];
  if (cmd > 0) onCommand(cmd);
}

bool MainWindow::assignCustomButton(int id) {
  const int n = customAssign_;
  customAssign_ = 0;
  if (n < 1 || n > CUSTOM_BUTTONS) return false;
  QString text;
  if (QAction* a = action(id))
    text = QString::fromUtf8(plainMenuText(a->text().toStdString()).c_str());
  const QString question = QStringLiteral("[%1]を選択しました。").arg(text);
  if (showMessageBox(this, BoxKind::Question, QStringLiteral("カスタムボタン"), question, true)) {
    options.custmenu[n - 1] = id;
    refreshCustomTooltips();
  }
  return true;
}

}  // namespace vlm
