// Switches of the settings menu, the panels shown, the display colour, the settings file
// (loaded at start-up and when the setup tool asks, written at exit), the external-application
// menu items and the custom buttons.
#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>

#include "app/graphic_button.h"
#include "app/main_window.h"
#include "app/panels/panels.h"
#include "app/qt_ui.h"
#include "convert/conversion_run.h"
#include "convert/options.h"
#include "platform/clipboard.h"
#include "platform/profile.h"
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

// The key of external application n (1..EXT_APPS) as its menu item shows it.
std::string externalAppKey(int n) {
  int count = 0;
  const CommandRange* ranges = MainWindow::commandRanges(&count);
  for (int r = 0; r < count; ++r)
    if (ranges[r].first == CMD_EXT_APP_FIRST && ranges[r].keys)
      return shortcutText({ranges[r].keys[n - 1], ranges[r].mods});
  return std::string();
}

// The window's place and size in the settings file's "control" section.
const char* const WINDOW_KEYS[4] = {"winleft", "wintop", "winwidth", "winheight"};
constexpr int NO_VALUE = -32768;

}  // namespace

void MainWindow::chooseColour(int colour) {
  options.dispcolor = colour;
  display_->showColourSetting(options.dispcolor);
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
  display_->showColourSetting(options.dispcolor);
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
  // Where the window was, for the next start.
  // pos() is the frame's place, which move() takes; the size is the inside's, as resize() takes.
  const int values[] = {pos().x(), pos().y(), width(), height()};
  for (int i = 0; i < 4; ++i)
    writeProfileInt("control", WINDOW_KEYS[i], values[i], settingsFile_.c_str());
}

void MainWindow::restoreGeometry() {
  int values[4];
  for (int i = 0; i < 4; ++i)
    values[i] = readProfileInt("control", WINDOW_KEYS[i], NO_VALUE, settingsFile_.c_str());
  if (values[0] != NO_VALUE && values[1] != NO_VALUE) move(values[0], values[1]);
  // The size counts only where the window can be resized (with the playlist shown).
  if (options.playlist && values[2] > 0 && values[3] > 0) resize(values[2], values[3]);
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
  for (int i = 1; i <= EXT_APPS; ++i) {
    if (options.appFile[i - 1].empty()) continue;
    std::string name = sjisToUtf8(options.appName[i - 1]);
    if (name.empty()) name = MainWindow::tr("外部ｿﾌﾄ%1").arg(i).toStdString();
    const std::string text = name + "\t" + externalAppKey(i);
    const int id = CMD_EXT_APP_FIRST + i - 1;
    auto* a = new QAction(QString::fromUtf8(text.c_str()), toolsMenu_);
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
    b->setTooltipText(text.isEmpty() ? MainWindow::tr("未登録") : text);
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
  const QString question = MainWindow::tr("[%1]を選択しました。").arg(text);
  if (showMessageBox(this, BoxKind::Question, MainWindow::tr("カスタムボタン"), question, true)) {
    options.custmenu[n - 1] = id;
    refreshCustomTooltips();
  }
  return true;
}

}  // namespace vlm
