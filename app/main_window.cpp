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
    {CMD_PLAY, "BITMAP_PLAY"},           {CMD_PAUSE, "BITMAP_PAUSE"},
    {CMD_STOP, "BITMAP_STOP"},           {CMD_OPEN, "BITMAP_OPEN"},
    {CMD_PREVIOUS, "BITMAP_NPLAYBACK"},  {CMD_NEXT, "BITMAP_NPLAYNEXT"},
    {CMD_KEY_DOWN, "BITMAP_FLAT"},       {CMD_KEY_UP, "BITMAP_SHARP"},
    {CMD_TEMPO_DOWN, "BITMAP_PLAYDOWN"}, {CMD_TEMPO_UP, "BITMAP_PLAYUP"},
    {CMD_VOLUME_DOWN, "BITMAP_MINUS"},   {CMD_VOLUME_UP, "BITMAP_PLUS"},
};
const ButtonSpec EXTENDED_BUTTONS[] = {
    {CMD_REPEAT_CONVERT, "BITMAP_REC"},
    {CMD_RANGE, "BITMAP_CUT"},
    {CMD_PROPERTIES, "BITMAP_PROP"},
};

QStringList localPaths(const QMimeData* mime) {
  QStringList paths;
  if (!mime) return paths;
  for (const QUrl& url : mime->urls())
    if (url.isLocalFile()) paths << url.toLocalFile();
  return paths;
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

void MainWindow::addConvertItems(QMenu* menu, int group) {
  for (int id : convertMenuCommands(group)) {
    const OutputFormat* format = outputFormatOfCommand(id);
    if (!format)
      menu->addSeparator();
    else
      addMenuAction(menu, id, tr(format->label), false);
  }
}

void MainWindow::buildMenus() {
  int count = 0;
  const CommandRow* rows = commandTable(&count);
  QMenu* top = nullptr;
  QMenu* sub = nullptr;
  for (int i = 0; i < count; ++i) {
    const CommandRow& row = rows[i];
    if (row.level == MENU_NONE) continue;
    const QString text = QString::fromStdString(menuLabel(row));
    if (row.level == 0) {
      // The one menu outside the bar is the display's colour menu.
      top = (row.flags & MENU_CONTEXT) ? (colourMenu_ = new QMenu(text, this))
                                       : menuBar()->addMenu(text);
      sub = nullptr;
      continue;
    }
    QMenu* into = (row.level >= 2 && sub) ? sub : top;
    if (!into) continue;
    if (row.flags & MENU_SEPARATOR) {
      into->addSeparator();
    } else if (row.flags & MENU_POPUP) {
      sub = top->addMenu(text);
    } else if (row.flags & MENU_CONVERT_GROUP) {
      addConvertItems(into, row.id);
    } else {
      QAction* a = addMenuAction(into, row.id, text, row.isCheckable());
      if (row.flags & MENU_GRAYED) a->setEnabled(false);
      if (row.id == CMD_MAIL) {
        mailAction_ = a;
        toolsMenu_ = into;
      }
    }
  }
  historyMenu_ = new QMenu(this);
  prevMenu_ = new QMenu(this);
  nextMenu_ = new QMenu(this);
  for (int c = 0; c < DISPLAY_COLOUR_RANDOM; ++c) {
    QPixmap swatch(12, 12);
    swatch.fill(displayColour(c));
    if (QAction* a = action(CMD_COLOUR_FIRST + c)) a->setIcon(QIcon(swatch));
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
    if (pid >= CMD_KEY_DOWN && pid <= CMD_VOLUME_UP) adjustPress(pid);
  });
  connect(b, &GraphicButton::rightPressed, this, [this, b](int rid) {
    QMenu* menu = nullptr;
    if (rid == CMD_PREVIOUS) menu = prevMenu_;
    if (rid == CMD_NEXT) menu = nextMenu_;
    if (rid == CMD_OPEN) menu = historyMenu_;
    if (rid >= CMD_CUSTOM_FIRST && rid < CMD_CUSTOM_FIRST + CUSTOM_BUTTONS) {
      // Assignment mode: the next menu command becomes this button's.
      customAssign_ = rid - CMD_CUSTOM_FIRST + 1;
      say(tr("ｶｽﾀﾑﾎﾞﾀﾝ%1: ﾒﾆｭｰを選択してください").arg(customAssign_));
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
  buttons_[CMD_PREVIOUS]->setEnabled(false);
  buttons_[CMD_NEXT]->setEnabled(false);
  extendedButtons_ = new QWidget(rowWidget);
  auto* ext = new QHBoxLayout(extendedButtons_);
  ext->setContentsMargins(4, 0, 0, 0);
  ext->setSpacing(1);
  for (const ButtonSpec& s : EXTENDED_BUTTONS) makeButton(s.id, s.bitmap, extendedButtons_, ext);
  buttons_[CMD_RANGE]->setTooltipText(tr("変換範囲指定"));
  buttons_[CMD_PROPERTIES]->setTooltipText(tr("ﾌｧｲﾙﾌﾟﾛﾊﾟﾃｨ"));
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
      {CMD_KEY_DOWN, "key -"},    {CMD_KEY_UP, "key +"},         {CMD_TEMPO_DOWN, "speed -"},
      {CMD_TEMPO_UP, "speed +"},  {CMD_VOLUME_DOWN, "volume -"}, {CMD_VOLUME_UP, "volume +"},
      {CMD_REPEAT_CONVERT, "REC"}};
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
  int count = 0;
  const CommandRow* rows = commandTable(&count);
  for (int i = 0; i < count; ++i) {
    const CommandRow& row = rows[i];
    if (row.level == MENU_NONE || !row.isCheckable()) continue;
    QAction* a = action(row.id);
    if (!a) continue;
    if (row.checked)
      a->setChecked(row.checked(*this, row.id));
    else if (row.flag)
      a->setChecked(options.*(row.flag));
    else
      a->setChecked(options.real & row.realBit);
  }
}

void MainWindow::onCommand(int id, int param) {
  runCommand(id, param);
  refreshMenuChecks();
  showPlayState();
}

void MainWindow::showPlayState() {
  // The play button stays pressed while the song plays, the pause button while it pauses.
  if (GraphicButton* b = button(CMD_PLAY)) b->setLatched(playerState.state == PLAY_PLAYING);
  if (GraphicButton* b = button(CMD_PAUSE)) b->setLatched(playerState.state == PLAY_PAUSED);
}

bool MainWindow::runCommand(int id, int param) {
  if (const CommandRow* row = findCommand(id)) {
    if (row->run) {
      row->run(*this, id, param);
    } else {
      if (row->flag) options.*(row->flag) = !(options.*(row->flag));
      options.real ^= row->realBit;
      if (row->after == After::APPLY) apply();
      if (row->after == After::RELAYOUT) relayout();
    }
    return true;
  }
  if (outputFormatOfCommand(id)) {
    convert(id);
    return true;
  }
  int count = 0;
  const CommandRange* ranges = commandRanges(&count);
  for (int r = 0; r < count; ++r) {
    if (id < ranges[r].first || id >= ranges[r].first + ranges[r].count) continue;
    ranges[r].run(*this, id - ranges[r].first, param);
    return true;
  }
  return false;
}

bool MainWindow::handleKey(QKeyEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  const bool playing = playerState.state == PLAY_PLAYING;
  const int cmd = commandOfKey(event->key(), event->modifiers(), playing);
  if (cmd == 0) return false;
  auto saved = modifierOverride_;
  modifierOverride_ = event->modifiers();
  if (!event->isAutoRepeat() || cmd == CMD_PLAY || cmd == CMD_PAUSE || cmd == CMD_STOP)
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
  onCommand(CMD_REFRESH_PLAYLIST);
  onCommand(CMD_OPEN_CURRENT, options.autoplay ? 0 : 1);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  stop();
  dialogs::closeAllDialogs();
  onCommand(CMD_SAVE_SETTINGS);
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
  } else if (message.command == CMD_RELOAD_SETTINGS) {
    onCommand(CMD_RELOAD_SETTINGS);
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
  restoreGeometry();
  std::vector<char> first(commandLine.size() + 1);
  if (commandLine.empty() || !firstArgument(commandLine.c_str(), first.data(), first.size())) {
    refreshPlaylistPanel();
    return;
  }
  clearPlaylist();
  addPathsToPlaylist(commandLine.c_str());
  openCurrentEntry(options.autoplay ? 0 : 1);
}

void MainWindow::openCurrentEntry(int startParam) {
  playlist.index = 0;
  onCommand(CMD_REFRESH_PLAYLIST);
  if (playlist.count > 0) onCommand(CMD_OPEN_CURRENT, startParam);
}

}  // namespace vlm
