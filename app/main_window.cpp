// The main window: its widgets, menus and layout, the one command entry, the keys, drag and drop
// and the key forwarding from child controls. The commands themselves are in commands_*.cpp.
#include "app/main_window.h"

#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QScrollBar>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>
#include <cstdio>
#include <cstring>

#include "app/dialogs/dialogs.h"
#include "app/graphic_button.h"
#include "app/menu_table.h"
#include "app/panels/panels.h"
#include "app/playlist.h"
#include "app/qt_ui.h"
#include "app/voice_names.h"
#include "convert/conversion_run.h"
#include "convert/options.h"
#include "platform/audio.h"
#include "platform/instance_channel.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "util/memblock.h"
#include "util/paths.h"

namespace vlm {

namespace {

MainWindow* theWindow = nullptr;

constexpr int WINDOW_WIDTH = 440;
constexpr int WINDOW_BASE_HEIGHT = 150;

// Tool buttons: id and bitmap. The previous/next buttons change their bitmap with the playlist.
struct ButtonSpec {
  int id;
  const char* bitmap;
};
const ButtonSpec BASE_BUTTONS[] = {
    {151, "BITMAP_PLAY"},   {153, "BITMAP_PAUSE"},     {152, "BITMAP_STOP"},
    {154, "BITMAP_OPEN"},   {161, "BITMAP_NPLAYBACK"}, {162, "BITMAP_NPLAYNEXT"},
    {155, "BITMAP_FLAT"},   {156, "BITMAP_SHARP"},     {157, "BITMAP_PLAYDOWN"},
    {158, "BITMAP_PLAYUP"}, {159, "BITMAP_MINUS"},     {160, "BITMAP_PLUS"},
};
const ButtonSpec EXTENDED_BUTTONS[] = {
    {165, "BITMAP_REC"},
    {164, "BITMAP_CUT"},
    {136, "BITMAP_PROP"},
};

QStringList localPaths(const QMimeData* mime) {
  QStringList paths;
  if (!mime) return paths;
  for (const QUrl& url : mime->urls())
    if (url.isLocalFile()) paths << url.toLocalFile();
  return paths;
}

// Keys that are commands whatever control has the focus.
int commandOfKey(int key, Qt::KeyboardModifiers mods, bool playing) {
  const bool ctrl = mods & Qt::ControlModifier;
  if (ctrl) {
    switch (key) {
      case Qt::Key_W:
        return 233;
      case Qt::Key_R:
        return 131;
      case Qt::Key_T:
        return 163;
      case Qt::Key_O:
        return 154;
      case Qt::Key_P:
        return 136;
      case Qt::Key_S:
        return 132;
      case Qt::Key_X:
        return 164;
      case Qt::Key_V:
        return 365;
      case Qt::Key_B:
        return 161;
      case Qt::Key_N:
        return 162;
      case Qt::Key_M:
        return 135;
      case Qt::Key_F2:
        return -dialogs::DLG_DETAILS;  // dialogs by their resource number
      case Qt::Key_F3:
        return -dialogs::DLG_TEXT_INFO;
      default:
        break;
    }
  }
  if (key >= Qt::Key_1 && key <= Qt::Key_9 && !ctrl) return 471 + (key - Qt::Key_1);
  switch (key) {
    case Qt::Key_0:
      return ctrl ? 0 : 491;
    case Qt::Key_Space:
      return playing ? 153 : 151;
    case Qt::Key_Period:
      return 152;
    case Qt::Key_F1:
      return 402;
    case Qt::Key_F4:
    case Qt::Key_F5:
    case Qt::Key_F6:
    case Qt::Key_F7:
    case Qt::Key_F8:
    case Qt::Key_F9:
      return 1401 + (key - Qt::Key_F4);
    case Qt::Key_F11:
      return 1407;
    case Qt::Key_F12:
      return 1408;
    default:
      return 0;
  }
}

class KeyForwarder : public QObject {
 public:
  explicit KeyForwarder(MainWindow* window) : QObject(window), window_(window) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != window_) return false;
    // An open menu of the window keeps its own keys.
    if (qobject_cast<QMenu*>(widget) || QApplication::activePopupWidget()) return false;
    if (event->type() == QEvent::KeyRelease) {
      // Releases of the player's keys are taken too, so that a control does not act on half a
      // key stroke.
      auto* key = static_cast<QKeyEvent*>(event);
      return commandOfKey(key->key(), key->modifiers(), false) != 0;
    }
    return window_->handleKey(static_cast<QKeyEvent*>(event));
  }

 private:
  MainWindow* window_;
};

}  // namespace

void installKeyForwarding(MainWindow* window) {
  static KeyForwarder* forwarder = nullptr;
  if (forwarder) return;
  forwarder = new KeyForwarder(window);
  qApp->installEventFilter(forwarder);
  QObject::connect(window, &QObject::destroyed, [] {
    qApp->removeEventFilter(forwarder);
    forwarder = nullptr;
  });
}

MainWindow* MainWindow::instance() {
  return theWindow;
}

MainWindow::MainWindow(const char* settingsFile) : settingsFile_(settingsFile) {
  theWindow = this;
  setWindowTitle(QStringLiteral("VlmPlayer"));
  setWindowIcon(QIcon(QStringLiteral(":/icons/vlmplay.png")));
  setAcceptDrops(true);
  ui_ = std::make_unique<QtUi>(this);
  setConversionUi(ui_.get());

  // Options the settings file does not hold.
  options.tempoRatio = TEMPO_NORMAL;
  options.volumePercent = 100;
  for (int c = 0; c < 16; ++c) {
    options.channelVolumePercent[c] = 100;
    options.channelVelocityPercent[c] = 100;
  }
  options.channelMask = 0xFFFF;
  options.voiceOutput = true;

  // The names the voice and drum dialogs show; missing files give empty names.
  loadVoiceNames(findDataDir());

  // The playlist capacity is read once, at start-up.
  initPlaylist(readProfileIntOr("files", PLAYLIST_DEFAULT_FILES));
  uint8_t* name = nullptr;
  if (void* block = makeTempFile(&name, "dum")) {
    tempPath_ = reinterpret_cast<const char*>(name);
    freeBlock(block);
  }

  positionTimer_ = new QTimer(this);
  connect(positionTimer_, &QTimer::timeout, this, &MainWindow::positionTick);
  repeatTimer_ = new QTimer(this);
  connect(repeatTimer_, &QTimer::timeout, this, &MainWindow::adjustRepeat);

  buildMenus();
  central_ = new QWidget(this);
  setCentralWidget(central_);
  buildButtons();
  buildPanels();

  setPlayerWindow(this);
  installPlayer();
  dialogs::setCommandSink([this](int id, int param) {
    QMetaObject::invokeMethod(
        this, [this, id, param] { onCommand(id, param); }, Qt::QueuedConnection);
  });

  loadAllSettings(true);
  resize(WINDOW_WIDTH, WINDOW_BASE_HEIGHT);
}

MainWindow::~MainWindow() {
  dialogs::setCommandSink(nullptr);
  setPlayerWindow(nullptr);
  if (notifier_) notifier_->setEnabled(false);
  if (listenFd_ >= 0) closeInstanceListener(listenFd_);
  removeVoiceFiles();
  if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
  if (!waveTempPath_.empty()) ::unlink(waveTempPath_.c_str());
  setConversionUi(nullptr);
  if (theWindow == this) theWindow = nullptr;
}

int MainWindow::readProfileIntOr(const char* key, int fallback) {
  return readProfileInt("section", key, fallback, settingsFile_.c_str());
}

QAction* MainWindow::addMenuAction(QMenu* menu, int id, const QString& text, bool checkable) {
  QAction* a = menu->addAction(text);
  a->setCheckable(checkable);
  connect(a, &QAction::triggered, this, [this, id] {
    if (customAssign_ && assignCustomButton(id)) return;
    onCommand(id);
  });
  actions_[id] = a;
  return a;
}

void MainWindow::buildMenus() {
  int count = 0;
  const MenuItem* items = menuTable(&count);
  QMenu* top = nullptr;
  QMenu* sub = nullptr;
  for (int i = 0; i < count; ++i) {
    const MenuItem& item = items[i];
    const QString text = QString::fromUtf8(menuItemText(item).c_str());
    if (item.level == 0) {
      top = menuBar()->addMenu(text);
      sub = nullptr;
      if (text.startsWith(QStringLiteral("ツール"))) toolsMenu_ = top;
      continue;
    }
    QMenu* into = (item.level >= 2 && sub) ? sub : top;
    if (!into) continue;
    if (item.flags & MENU_SEPARATOR) {
      into->addSeparator();
    } else if (item.flags & MENU_POPUP) {
      sub = top->addMenu(text);
    } else {
      QAction* a = addMenuAction(into, item.id, text, item.flags & MENU_CHECKABLE);
      if (item.flags & MENU_GRAYED) a->setEnabled(false);
      if (item.id == CMD_TOOLS_INSERT_BEFORE) mailAction_ = a;
    }
  }
  historyMenu_ = new QMenu(this);
  prevMenu_ = new QMenu(this);
  nextMenu_ = new QMenu(this);
  // The display colours, on the display's context menu.
  colourMenu_ = new QMenu(this);
  for (int c = 0; c <= 8; ++c) {
    QPixmap swatch(12, 12);
    swatch.fill(displayColour(c == 8 ? 9 : c));
    const QString text = c == 8 ? QStringLiteral("ランダム") : QStringLiteral("色%1").arg(c + 1);
    QAction* a = addMenuAction(colourMenu_, CMD_COLOUR_FIRST + c, text, true);
    if (c < 8) a->setIcon(QIcon(swatch));
  }
}

GraphicButton* MainWindow::makeButton(int id, const char* bitmap, QWidget* parent,
                                      QBoxLayout* row) {
  auto* b = new GraphicButton(id, QString::fromLatin1(bitmap), GB_FIXED_GREY, parent);
  b->setFixedSize(b->sizeHint().expandedTo(QSize(20, 20)));
  b->setFocusPolicy(Qt::NoFocus);
  connect(b, &GraphicButton::command, this, [this](int cid) {
    if (cid >= CMD_CUSTOM_FIRST && cid < CMD_CUSTOM_FIRST + CUSTOM_BUTTONS) {
      customButtonPressed(cid - CMD_CUSTOM_FIRST + 1);
      return;
    }
    onCommand(cid);
  });
  connect(b, &GraphicButton::pressed, this, [this](int pid) {
    if (pid >= 155 && pid <= 160) adjustPress(pid);
  });
  connect(b, &GraphicButton::rightPressed, this, [this, b](int rid) {
    QMenu* menu = nullptr;
    if (rid == 161) menu = prevMenu_;
    if (rid == 162) menu = nextMenu_;
    if (rid == 154) menu = historyMenu_;
    if (rid >= CMD_CUSTOM_FIRST && rid < CMD_CUSTOM_FIRST + CUSTOM_BUTTONS) {
      // Assignment mode: the next menu command becomes this button's.
      customAssign_ = rid - CMD_CUSTOM_FIRST + 1;
      say(QStringLiteral("ｶｽﾀﾑﾎﾞﾀﾝ%1: ﾒﾆｭｰを選択してください").arg(customAssign_));
      return;
    }
    if (menu && !menu->isEmpty()) menu->popup(b->mapToGlobal(QPoint(0, b->height())));
  });
  buttons_[id] = b;
  if (row) row->addWidget(b);
  return b;
}

void MainWindow::buildButtons() {
  auto* column = new QVBoxLayout(central_);
  column->setContentsMargins(2, 2, 2, 2);
  column->setSpacing(2);

  auto* rowWidget = new QWidget(central_);
  auto* row = new QHBoxLayout(rowWidget);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(1);
  for (const ButtonSpec& s : BASE_BUTTONS) makeButton(s.id, s.bitmap, rowWidget, row);
  buttons_[161]->setEnabled(false);
  buttons_[162]->setEnabled(false);
  extendedButtons_ = new QWidget(rowWidget);
  auto* ext = new QHBoxLayout(extendedButtons_);
  ext->setContentsMargins(4, 0, 0, 0);
  ext->setSpacing(1);
  for (const ButtonSpec& s : EXTENDED_BUTTONS) makeButton(s.id, s.bitmap, extendedButtons_, ext);
  buttons_[164]->setTooltipText(QStringLiteral("変換範囲指定"));
  buttons_[136]->setTooltipText(QStringLiteral("ﾌｧｲﾙﾌﾟﾛﾊﾟﾃｨ"));
  row->addWidget(extendedButtons_);
  row->addStretch(1);
  column->addWidget(rowWidget);

  customButtons_ = new QWidget(central_);
  auto* cust = new QHBoxLayout(customButtons_);
  cust->setContentsMargins(0, 0, 0, 0);
  cust->setSpacing(1);
  for (int i = 0; i < CUSTOM_BUTTONS; ++i)
    makeButton(CMD_CUSTOM_FIRST + i, "BITMAP_CUST1", customButtons_, cust);
  cust->addStretch(1);
  column->addWidget(customButtons_);

  // Tooltips of the fixed buttons: their menu texts.
  for (auto& [id, b] : buttons_) {
    if (!b->tooltipText().isEmpty()) continue;
    std::string t = menuTextOf(id);
    if (!t.empty()) b->setTooltipText(QString::fromUtf8(plainMenuText(t).c_str()));
  }
  static const std::pair<int, const char*> EXTRA_TIPS[] = {
      {155, "key -"},    {156, "key +"},    {157, "speed -"}, {158, "speed +"},
      {159, "volume -"}, {160, "volume +"}, {165, "REC"}};
  for (auto& [id, tip] : EXTRA_TIPS)
    if (buttons_.count(id)) buttons_[id]->setTooltipText(QString::fromLatin1(tip));
}

void MainWindow::buildPanels() {
  auto* column = static_cast<QVBoxLayout*>(central_->layout());
  display_ = new DisplayPanel(central_);
  display_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(display_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& p) { colourMenu_->popup(display_->mapToGlobal(p)); });
  connect(display_, &DisplayPanel::filesDropped, this,
          [this](const QStringList& paths, bool ctrl) { dropFiles(paths, ctrl); });
  column->addWidget(display_);

  positionBar_ = new QScrollBar(Qt::Horizontal, central_);
  positionBar_->setRange(0, 0);
  positionBar_->setFocusPolicy(Qt::NoFocus);
  connect(positionBar_, &QScrollBar::actionTriggered, this, &MainWindow::onPositionBarAction);
  connect(positionBar_, &QScrollBar::sliderReleased, this, &MainWindow::onPositionBarReleased);
  column->addWidget(positionBar_);

  channelPanel_ = new ChannelPanel(central_);
  connect(channelPanel_, &ChannelPanel::command, this, [this](int id, int mods) {
    auto saved = modifierOverride_;
    modifierOverride_ = Qt::KeyboardModifiers(mods);
    onCommand(id);
    modifierOverride_ = saved;
  });
  column->addWidget(channelPanel_);

  monitor_ = new ChannelMonitor(central_);
  column->addWidget(monitor_);
  karaoke_ = new KaraokeView(central_);
  column->addWidget(karaoke_);
  playlistPanel_ = new PlaylistPanel(central_);
  connect(playlistPanel_, &PlaylistPanel::entryActivated, this, [this](int index) {
    if (index < 0 || index >= playlist.count) return;
    moveTo(index, true);
  });
  connect(playlistPanel_, &PlaylistPanel::filesDropped, this,
          [this](const QStringList& paths) { dropFiles(paths, true); });
  column->addWidget(playlistPanel_, 1);
  column->addStretch(0);
  for (int c = 0; c < 16; ++c) channelPanel_->setChannelEnabled(c, false);
  channelPanel_->setVoiceEnabled(false);
  channelPanel_->setSelection(options.channelMask, options.voiceOutput);
}

QAction* MainWindow::action(int id) const {
  auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

GraphicButton* MainWindow::button(int id) const {
  auto it = buttons_.find(id);
  return it == buttons_.end() ? nullptr : it->second;
}

std::vector<QMenu*> MainWindow::barMenus() const {
  std::vector<QMenu*> menus;
  for (QAction* a : menuBar()->actions())
    if (a->menu()) menus.push_back(a->menu());
  return menus;
}

Qt::KeyboardModifiers MainWindow::modifiers() const {
  if (modifierOverride_) return *modifierOverride_;
  return QGuiApplication::queryKeyboardModifiers();
}

void MainWindow::relayout() {
  display_->setVisible(options.display);
  positionBar_->setVisible(options.counter);
  channelPanel_->setVisible(options.chnpanel);
  monitor_->setVisible(options.chmonita);
  karaoke_->setVisible(options.karaoke);
  playlistPanel_->setVisible(options.playlist);
  extendedButtons_->setVisible(options.plusbtnflg);
  customButtons_->setVisible(options.custbtnflg);
  karaoke_->setScrolling(options.karaokescroll);

  central_->layout()->invalidate();
  central_->layout()->activate();
  const int height = std::max(WINDOW_BASE_HEIGHT - 40, sizeHint().height());
  const bool wasVisible = isVisible();
  Qt::WindowFlags flags = windowFlags();
  flags.setFlag(Qt::WindowStaysOnTopHint, options.topmost);
  flags.setFlag(Qt::WindowMaximizeButtonHint, options.playlist);
  if (flags != windowFlags()) {
    setWindowFlags(flags);
    if (wasVisible) show();
  }
  if (options.playlist) {
    // The playlist may grow: the window can then be resized and maximized.
    setMinimumSize(WINDOW_WIDTH, height);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    if (this->height() < height + 120 && !isMaximized()) resize(WINDOW_WIDTH, height + 120);
  } else {
    if (isMaximized()) showNormal();
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    setFixedSize(WINDOW_WIDTH, height);
  }
}

void MainWindow::refreshMenuChecks() {
  auto check = [this](int id, bool on) {
    if (QAction* a = action(id)) a->setChecked(on);
  };
  check(134, runState.AutoConvertFlags & AUTO_CONVERT_MODE);
  check(201, options.autoreset);
  check(206, options.real != 0);
  check(275, options.real & REAL_MODULATION);
  check(274, options.real & REAL_STEREO);
  check(272, options.real & REAL_HOLD);
  check(271, options.real & REAL_PITCH_BEND);
  check(276, options.real & REAL_BEND_RANGE);
  check(277, options.real & REAL_OTHER_CONTROLLERS);
  check(229, options.panleft);
  check(225, options.hinote);
  check(278, options.bendsepflg);
  check(279, options.bendecoflg);
  check(234, options.chgtime);
  check(221, options.restcut);
  check(302, options.endrestcut);
  check(228, options.allchreset);
  check(223, options.makeendrest);
  check(305, options.gmriset);
  check(307, options.gsmode);
  check(301, options.exclusive);
  check(304, options.toprest);
  check(222, options.endrest);
  check(303, options.autoplay);
  check(251, options.topmost);
  check(260, options.plusbtnflg);
  check(261, options.custbtnflg);
  check(254, options.counter);
  check(253, options.display);
  check(257, options.karaoke);
  check(258, options.chmonita);
  check(252, options.chnpanel);
  check(256, options.playlist);
  check(259, options.karaokescroll);
  for (int m = 1; m <= 5; ++m) check(280 + m, options.midmono == m);
  check(362, options.loopmode == 1);
  check(363, options.loopmode == 2);
  check(364, options.playbackLoop);
  check(366, introMode_);
  check(367, options.cuePlay);
  for (int c = 0; c <= 8; ++c)
    check(CMD_COLOUR_FIRST + c, c == 8 ? options.dispcolor >= 8 : options.dispcolor == c);
}

void MainWindow::onCommand(int id, int param) {
  if (!playbackCommand(id, param) && !fileCommand(id, param) && !settingsCommand(id, param))
    panelCommand(id, param);
  refreshMenuChecks();
}

bool MainWindow::handleKey(QKeyEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  const bool playing = playerState.state == PLAY_PLAYING;
  const int cmd = commandOfKey(event->key(), event->modifiers(), playing);
  if (cmd == 0) return false;
  auto saved = modifierOverride_;
  modifierOverride_ = event->modifiers();
  if (cmd < 0)
    openDialogOrSay(-cmd);
  else if (!event->isAutoRepeat() || cmd == 151 || cmd == 153 || cmd == 152)
    onCommand(cmd);
  refreshMenuChecks();
  modifierOverride_ = saved;
  return true;
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!localPaths(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QStringList paths = localPaths(event->mimeData());
  if (paths.isEmpty()) return;
  event->acceptProposedAction();
  dropFiles(paths, event->modifiers() & Qt::ControlModifier);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  return QMainWindow::eventFilter(watched, event);
}

void MainWindow::dropFiles(const QStringList& paths, bool append) {
  if (!append) clearPlaylist();
  const int start = playlist.count;
  for (const QString& p : paths) {
    if (playlistFull()) break;
    addPlaylistPath(pathFromQt(p).c_str());
  }
  if (playlist.count <= start) {
    refreshPlaylistPanel();
    return;
  }
  playlist.index = start;
  onCommand(501);
  onCommand(55, options.autoplay ? 0 : 1);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  stop();
  dialogs::closeAllDialogs();
  onCommand(53);
  event->accept();
}

void MainWindow::say(const QString& text) {
  display_->setLine(0, text);
}

void MainWindow::listenForInstances() {
  if (listenFd_ >= 0) return;
  listenFd_ = openInstanceListener();
  if (listenFd_ < 0) return;
  notifier_ = new QSocketNotifier(listenFd_, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &MainWindow::onInstanceMessage);
}

void MainWindow::onInstanceMessage() {
  InstanceMessage message;
  if (!acceptInstanceMessage(listenFd_, &message)) return;
  if (message.command == HANDOVER_COMMAND) {
    handover(message.param, message.payload);
  } else if (message.command == 351) {
    onCommand(351);
  }
}

void MainWindow::handover(uint32_t param, const std::string& payload) {
  std::string text;
  if (!onHandoverMessage(handover_, param, payload, &text)) {
    if ((param & 0xFFFF) == HANDOVER_BEGIN_LOW && param != HANDOVER_END) clearPlaylist();
    return;
  }
  clearPlaylist();
  addPathsToPlaylist(text.c_str());
  openCurrentEntry(options.autoplay ? 0 : 1);
  raise();
  activateWindow();
}

void MainWindow::startWith(const std::string& commandLine) {
  relayout();
  char first[PATH_SLOT] = {};
  if (commandLine.empty() || !firstArgument(commandLine.c_str(), first, sizeof first)) {
    refreshPlaylistPanel();
    return;
  }
  clearPlaylist();
  addPathsToPlaylist(commandLine.c_str());
  openCurrentEntry(options.autoplay ? 0 : 1);
}

void MainWindow::openCurrentEntry(int startParam) {
  playlist.index = 0;
  onCommand(501);
  if (playlist.count > 0) onCommand(55, startParam);
}

}  // namespace vlm
