// The main window's panels, offscreen: what each button sends, what each panel shows for what it
// is given, drops, the playlist's rows and activation, karaoke following, monitor decay.
#include <gtest/gtest.h>

#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QImage>
#include <QInputDevice>
#include <QListWidget>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QUrl>
#include <cstdlib>
#include <set>

#include "app/panels/panels.h"
#include "qt_test_app.h"

using namespace vlm;

namespace {

// No test may touch the user's files: every XDG folder and TMPDIR point into one fresh folder.
class PanelsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    dir_ = std::make_unique<QTemporaryDir>();
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR", "TMPDIR"}) {
      const QString path = dir_->filePath(QString::fromLatin1(name));
      QDir().mkpath(path);
      QFile::setPermissions(
          path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
      ::setenv(name, path.toLocal8Bit().constData(), 1);
    }
    // QTest's mouse events make a pointing device that the application owns and that leaves the
    // global device list when the application goes at exit: the list must be made first, so that
    // it is destroyed after the application.
    (void)QInputDevice::devices();
    qtApp();
  }
  void TearDown() override { dir_.reset(); }

 private:
  std::unique_ptr<QTemporaryDir> dir_;
};
const auto* const panelsEnvironment = ::testing::AddGlobalTestEnvironment(new PanelsEnvironment);

QMimeData* urlData(const QStringList& paths) {
  auto* mime = new QMimeData;
  QList<QUrl> urls;
  for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
  mime->setUrls(urls);
  return mime;
}

// Sends a drag-enter and a drop of the given data, the way a file manager would.
bool dropOn(QWidget* target, QMimeData* mime, Qt::KeyboardModifiers mods) {
  const QPoint at(target->width() / 2, target->height() / 2);
  QDragEnterEvent enter(at, Qt::CopyAction, mime, Qt::LeftButton, mods);
  QApplication::sendEvent(target, &enter);
  QDropEvent drop(QPointF(at), Qt::CopyAction, mime, Qt::LeftButton, mods);
  QApplication::sendEvent(target, &drop);
  const bool accepted = enter.isAccepted() && drop.isAccepted();
  delete mime;
  return accepted;
}

QAbstractButton* button(QWidget* w) {
  return qobject_cast<QAbstractButton*>(w);
}

}  // namespace

// ---- Channel panel ---------------------------------------------------------------------------

TEST(ChannelPanel, EveryButtonSendsItsIdWithTheModifiersOfTheClick) {
  ChannelPanel panel(nullptr);
  panel.show();
  QSignalSpy spy(&panel, &ChannelPanel::command);
  std::vector<std::pair<QWidget*, int>> buttons;
  for (int ch = 0; ch < 16; ++ch) buttons.push_back({panel.channelButton(ch), 471 + ch});
  buttons.push_back({panel.allButton(), CMD_ALL_CHANNELS});
  buttons.push_back({panel.voiceButton(), CMD_VOICE_OUTPUT});
  const Qt::KeyboardModifiers cases[] = {Qt::NoModifier, Qt::ControlModifier, Qt::ShiftModifier,
                                         Qt::ControlModifier | Qt::ShiftModifier,
                                         Qt::AltModifier | Qt::ControlModifier};
  for (auto [w, id] : buttons) {
    ASSERT_NE(w, nullptr);
    for (Qt::KeyboardModifiers mods : cases) {
      spy.clear();
      QTest::mouseClick(w, Qt::LeftButton, mods);
      ASSERT_EQ(spy.count(), 1) << id;
      EXPECT_EQ(spy[0][0].toInt(), id);
      // Only Ctrl and Shift are passed on.
      EXPECT_EQ(spy[0][1].toInt(), int(mods & (Qt::ControlModifier | Qt::ShiftModifier))) << id;
    }
  }
  // A key press on a focused button reports its modifiers too.
  spy.clear();
  QWidget* b5 = panel.channelButton(4);
  QTest::keyClick(b5, Qt::Key_Space, Qt::ShiftModifier);
  ASSERT_EQ(spy.count(), 1);
  EXPECT_EQ(spy[0][0].toInt(), 475);
  EXPECT_EQ(spy[0][1].toInt(), int(Qt::ShiftModifier));
}

TEST(ChannelPanel, ShowsOnlyWhatTheWindowSets) {
  ChannelPanel panel(nullptr);
  panel.show();
  // Start: everything on.
  for (int ch = 0; ch < 16; ++ch) EXPECT_TRUE(button(panel.channelButton(ch))->isChecked());
  EXPECT_TRUE(button(panel.voiceButton())->isChecked());

  panel.setSelection(0x8005, false);
  for (int ch = 0; ch < 16; ++ch)
    EXPECT_EQ(button(panel.channelButton(ch))->isChecked(), ch == 0 || ch == 2 || ch == 15) << ch;
  EXPECT_FALSE(button(panel.voiceButton())->isChecked());

  // Clicks do not toggle the look: the window answers with setSelection.
  QTest::mouseClick(panel.channelButton(0), Qt::LeftButton);
  QTest::mouseClick(panel.channelButton(1), Qt::LeftButton);
  QTest::mouseClick(panel.voiceButton(), Qt::LeftButton);
  EXPECT_TRUE(button(panel.channelButton(0))->isChecked());
  EXPECT_FALSE(button(panel.channelButton(1))->isChecked());
  EXPECT_FALSE(button(panel.voiceButton())->isChecked());
  // On and off channels look different (sampled near the corner, away from the label).
  auto face = [&panel](int ch) {
    QWidget* w = panel.channelButton(ch);
    return w->grab().toImage().pixel(3, w->height() - 4);
  };
  panel.setSelection(0x0012, true);
  EXPECT_NE(face(4), face(5));
  EXPECT_EQ(face(5), face(6));
  panel.setSelection(0x0022, true);
  EXPECT_EQ(face(4), face(6));
  EXPECT_NE(face(5), face(6));
  panel.setSelection(0x0002, true);
  EXPECT_FALSE(button(panel.channelButton(0))->isChecked());
  EXPECT_TRUE(button(panel.channelButton(1))->isChecked());
  EXPECT_TRUE(button(panel.voiceButton())->isChecked());
}

TEST(ChannelPanel, LabelsEnabledStatesAndFocus) {
  ChannelPanel panel(nullptr);
  panel.show();
  QSignalSpy spy(&panel, &ChannelPanel::command);
  EXPECT_EQ(button(panel.channelButton(0))->text(), "1  ");
  EXPECT_EQ(button(panel.channelButton(15))->text(), "16  ");
  EXPECT_EQ(button(panel.allButton())->text(), "ALL");
  panel.setChannelLabel(9, "Dr ");
  panel.setChannelLabel(10, "Ds ");
  panel.setChannelLabel(16, "x");  // out of range: ignored
  panel.setChannelLabel(-1, "x");
  EXPECT_EQ(button(panel.channelButton(9))->text(), "Dr ");
  EXPECT_EQ(button(panel.channelButton(10))->text(), "Ds ");
  EXPECT_EQ(panel.channelButton(16), nullptr);

  panel.setChannelEnabled(3, false);
  panel.setVoiceEnabled(false);
  EXPECT_FALSE(panel.channelButton(3)->isEnabled());
  EXPECT_TRUE(panel.channelButton(4)->isEnabled());
  EXPECT_FALSE(panel.voiceButton()->isEnabled());
  QTest::mouseClick(panel.channelButton(3), Qt::LeftButton);
  QTest::mouseClick(panel.voiceButton(), Qt::LeftButton);
  EXPECT_EQ(spy.count(), 0);  // disabled buttons send nothing
  panel.setChannelEnabled(3, true);
  QTest::mouseClick(panel.channelButton(3), Qt::LeftButton);
  EXPECT_EQ(spy.count(), 1);

  // Reachable with Tab, so that keys pressed there still pass the window's key filter.
  for (int ch = 0; ch < 16; ++ch)
    EXPECT_TRUE(panel.channelButton(ch)->focusPolicy() & Qt::TabFocus);
  // All buttons fit the window's width.
  panel.resize(440, panel.sizeHint().height());
  EXPECT_LE(panel.minimumSizeHint().width(), 440);
  panel.grab();  // paints
}

// ---- Display ---------------------------------------------------------------------------------

TEST(DisplayPanel, ColoursAreDistinctAndReadable) {
  std::set<QRgb> faces;
  auto luminance = [](QColor c) {
    return 0.2126 * c.redF() + 0.7152 * c.greenF() + 0.0722 * c.blueF();
  };
  for (int c : {0, 1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 12, 13, 14, 15}) {
    faces.insert(displayColour(c).rgb());
    EXPECT_GT(std::abs(luminance(displayColour(c)) - luminance(displayTextColour(c))), 0.45) << c;
  }
  EXPECT_EQ(faces.size(), 15u);
  // Out of range: the default colour 4, never a read past the table.
  EXPECT_EQ(displayColour(-1), displayColour(4));
  EXPECT_EQ(displayColour(16), displayColour(4));
  EXPECT_EQ(displayColour(255), displayColour(4));

  DisplayPanel panel(nullptr);
  panel.resize(440, panel.sizeHint().height());
  for (int c : {0, 7, 12}) {
    panel.setColour(c);
    EXPECT_EQ(panel.faceColour(), displayColour(c));
    const QImage img = panel.grab().toImage();
    // The face shows the colour away from the bevel and the text.
    EXPECT_EQ(QColor(img.pixel(img.width() - 3, img.height() / 2)).rgb(), displayColour(c).rgb())
        << c;
  }
}

TEST(DisplayPanel, LinesKeepTheirTextsAndLongOnesDoNotWidenThePanel) {
  DisplayPanel panel(nullptr);
  panel.setLine(0, "speed 1.17");
  panel.setLine(1, "SMF 0:42");
  panel.setLine(2, "位置 12/345 カラオケ");
  panel.setLine(3, "ignored");
  panel.setLine(-1, "ignored");
  EXPECT_EQ(panel.line(0), "speed 1.17");
  EXPECT_EQ(panel.line(1), "SMF 0:42");
  EXPECT_EQ(panel.line(2), "位置 12/345 カラオケ");
  EXPECT_EQ(panel.line(3), QString());
  const int before = panel.minimumSizeHint().width();
  panel.setLine(0, QString(500, QChar(0x3042)));
  EXPECT_EQ(panel.minimumSizeHint().width(), before);
  panel.resize(440, 60);
  panel.grab();
}

TEST(DisplayPanel, DroppedFilesReachTheWindowWithTheCtrlState) {
  DisplayPanel panel(nullptr);
  panel.resize(440, 60);
  panel.show();
  QSignalSpy spy(&panel, &DisplayPanel::filesDropped);
  EXPECT_TRUE(dropOn(&panel, urlData({"/music/a.mld", "/music/b c.mid"}), Qt::NoModifier));
  ASSERT_EQ(spy.count(), 1);
  EXPECT_EQ(spy[0][0].toStringList(), QStringList({"/music/a.mld", "/music/b c.mid"}));
  EXPECT_FALSE(spy[0][1].toBool());
  EXPECT_TRUE(dropOn(&panel, urlData({"/music/日本語.mmf"}), Qt::ControlModifier));
  ASSERT_EQ(spy.count(), 2);
  EXPECT_EQ(spy[1][0].toStringList(), QStringList({"/music/日本語.mmf"}));
  EXPECT_TRUE(spy[1][1].toBool());
  // A drop on one of the lines lands on the display too.
  auto* label = panel.findChild<QWidget*>();
  ASSERT_NE(label, nullptr);
  EXPECT_TRUE(dropOn(label, urlData({"/x.mld"}), Qt::NoModifier));
  EXPECT_EQ(spy.count(), 3);
  // Nothing that is not a local file: refused, no signal.
  auto* web = new QMimeData;
  web->setUrls({QUrl("https://example.invalid/a.mid")});
  EXPECT_FALSE(dropOn(&panel, web, Qt::NoModifier));
  auto* text = new QMimeData;
  text->setText("/music/a.mld");
  EXPECT_FALSE(dropOn(&panel, text, Qt::NoModifier));
  EXPECT_EQ(spy.count(), 3);
}

// ---- Playlist --------------------------------------------------------------------------------

TEST(PlaylistPanel, RowsShowFileNamesAndTheCurrentEntry) {
  PlaylistPanel panel(nullptr);
  panel.resize(440, 120);
  panel.show();
  panel.setEntries({"/a/one.mld", "/b/two.MID", "clip.txt", "/c/曲.mmf"}, 2);
  QListWidget* list = panel.list();
  ASSERT_EQ(list->count(), 4);
  EXPECT_EQ(list->item(0)->text(), "one.mld");
  EXPECT_EQ(list->item(1)->text(), "two.MID");
  EXPECT_EQ(list->item(2)->text(), "clip.txt");
  EXPECT_EQ(list->item(3)->text(), "曲.mmf");
  EXPECT_EQ(list->item(3)->toolTip(), "/c/曲.mmf");
  EXPECT_EQ(panel.currentRow(), 2);
  EXPECT_TRUE(list->item(2)->isSelected());
  // Same entries, another current one (the window's refresh): only the selection moves.
  QListWidgetItem* kept = list->item(0);
  panel.setEntries({"/a/one.mld", "/b/two.MID", "clip.txt", "/c/曲.mmf"}, 0);
  EXPECT_EQ(list->item(0), kept);
  EXPECT_EQ(panel.currentRow(), 0);
  EXPECT_FALSE(list->item(2)->isSelected());
  // A current index outside the list selects nothing.
  panel.setEntries({"/a/x.mld"}, 5);
  EXPECT_EQ(list->count(), 1);
  EXPECT_EQ(panel.currentRow(), -1);
  panel.setEntries({}, 0);
  EXPECT_EQ(list->count(), 0);
}

TEST(PlaylistPanel, ThousandEntriesQuicklyAndTheCurrentOneInView) {
  PlaylistPanel panel(nullptr);
  panel.resize(440, 120);
  panel.show();
  QStringList paths;
  for (int i = 0; i < 1024; ++i) paths << QString("/music/dir%1/song %2.mld").arg(i % 7).arg(i);
  QElapsedTimer t;
  t.start();
  panel.setEntries(paths, 1000);
  for (int i = 0; i < 20; ++i) panel.setEntries(paths, i * 50);  // refreshes
  paths[3] = "/music/changed.mld";
  panel.setEntries(paths, 1023);
  EXPECT_LT(t.elapsed(), 1500);
  EXPECT_EQ(panel.list()->count(), 1024);
  EXPECT_EQ(panel.list()->item(3)->text(), "changed.mld");
  EXPECT_EQ(panel.currentRow(), 1023);
  QApplication::processEvents();
  const QRect visible = panel.list()->viewport()->rect();
  EXPECT_TRUE(visible.intersects(panel.list()->visualItemRect(panel.list()->item(1023))));
}

TEST(PlaylistPanel, DoubleClickAndEnterActivateDropsAppend) {
  PlaylistPanel panel(nullptr);
  panel.resize(440, 120);
  panel.show();
  panel.setEntries({"/a/one.mld", "/a/two.mld", "/a/three.mld"}, 0);
  QSignalSpy activated(&panel, &PlaylistPanel::entryActivated);
  QListWidget* list = panel.list();
  const QRect r = list->visualItemRect(list->item(1));
  // A single click only selects.
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, r.center());
  EXPECT_EQ(activated.count(), 0);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, r.center());
  ASSERT_EQ(activated.count(), 1);
  EXPECT_EQ(activated[0][0].toInt(), 1);
  activated.clear();
  list->setCurrentRow(2);
  QTest::keyClick(list, Qt::Key_Return);
  QTest::keyClick(list, Qt::Key_Enter, Qt::KeypadModifier);
  ASSERT_EQ(activated.count(), 2);
  EXPECT_EQ(activated[0][0].toInt(), 2);
  EXPECT_EQ(activated[1][0].toInt(), 2);

  QSignalSpy dropped(&panel, &PlaylistPanel::filesDropped);
  EXPECT_TRUE(dropOn(list->viewport(), urlData({"/new/a.mld", "/new/b.mmf"}), Qt::NoModifier));
  EXPECT_TRUE(dropOn(&panel, urlData({"/new/c.mld"}), Qt::ControlModifier));
  ASSERT_EQ(dropped.count(), 2);
  EXPECT_EQ(dropped[0][0].toStringList(), QStringList({"/new/a.mld", "/new/b.mmf"}));
  EXPECT_EQ(dropped[1][0].toStringList(), QStringList({"/new/c.mld"}));
  EXPECT_EQ(list->count(), 3);  // the window adds them, not the panel
}

// ---- Karaoke ---------------------------------------------------------------------------------

TEST(KaraokeView, CurrentLineFollowsThePosition) {
  KaraokeView view(nullptr);
  EXPECT_EQ(view.currentLine(), -1);
  view.setPosition(100);
  EXPECT_EQ(view.currentLine(), -1);  // no lyrics
  view.setLyrics({{16, "はじめの行"}, {32, "second"}, {32, "same time"}, {80, "last"}});
  view.setPosition(0);
  EXPECT_EQ(view.currentLine(), -1);
  view.setPosition(15);
  EXPECT_EQ(view.currentLine(), -1);
  view.setPosition(16);
  EXPECT_EQ(view.currentLine(), 0);
  view.setPosition(31);
  EXPECT_EQ(view.currentLine(), 0);
  view.setPosition(32);
  EXPECT_EQ(view.currentLine(), 2);  // of two lines at one time, the later one
  view.setPosition(5000);
  EXPECT_EQ(view.currentLine(), 3);
  view.setPosition(20);  // a seek backwards
  EXPECT_EQ(view.currentLine(), 0);
  EXPECT_EQ(view.sungChars(), 5);  // line mode: the whole current line
  // New lyrics keep the position.
  view.setLyrics({{0, "a"}, {10, "b"}, {30, "c"}});
  EXPECT_EQ(view.currentLine(), 1);
  view.setLyrics({});
  EXPECT_EQ(view.currentLine(), -1);
  EXPECT_EQ(view.lineCount(), 0);
}

TEST(KaraokeView, SyllablesMakeLinesAndTheSungPartGrows) {
  KaraokeView view(nullptr);
  view.setSyllables({{4, "か"},
                     {6, "ら"},
                     {8, "お"},
                     {10, "け"},
                     {16, "\nnext "},
                     {20, "line"},
                     {24, "\r\nthird"}});
  ASSERT_EQ(view.lineCount(), 3);
  EXPECT_EQ(view.lineText(0), "からおけ");
  EXPECT_EQ(view.lineText(1), "next line");
  EXPECT_EQ(view.lineText(2), "third");
  view.setPosition(3);
  EXPECT_EQ(view.currentLine(), -1);
  EXPECT_EQ(view.sungChars(), 0);
  view.setPosition(4);
  EXPECT_EQ(view.sungChars(), 1);
  view.setPosition(9);
  EXPECT_EQ(view.sungChars(), 3);
  view.setPosition(17);
  EXPECT_EQ(view.currentLine(), 1);
  EXPECT_EQ(view.sungChars(), 5);
  view.setPosition(22);
  EXPECT_EQ(view.sungChars(), 9);
  view.resize(300, 80);
  view.grab();

  // The song's lyric table as the window hands it to setLyrics: its '\n' marks make it
  // syllables; a mark in the middle of an entry (two texts at one time) splits there.
  view.setLyrics({{0, "ab"}, {2, "c\nde"}, {6, "f"}, {8, "\n\nlast"}});
  ASSERT_EQ(view.lineCount(), 4);
  EXPECT_EQ(view.lineText(0), "abc");
  EXPECT_EQ(view.lineText(1), "def");
  EXPECT_EQ(view.lineText(2), "");
  EXPECT_EQ(view.lineText(3), "last");
  view.setPosition(2);
  EXPECT_EQ(view.currentLine(), 1);
  EXPECT_EQ(view.sungChars(), 2);
  view.setPosition(7);
  EXPECT_EQ(view.sungChars(), 3);
  view.setPosition(9);
  EXPECT_EQ(view.currentLine(), 3);
  EXPECT_EQ(view.lineText(-1), QString());
  EXPECT_EQ(view.lineText(4), QString());
}

TEST(KaraokeView, ScrollingKeepsTheCurrentLineInView) {
  KaraokeView view(nullptr);
  std::vector<KaraokeView::Lyric> lyrics;
  for (uint32_t i = 0; i < 40; ++i) lyrics.push_back({i * 16, QString("line %1").arg(i)});
  view.setLyrics(lyrics);
  view.resize(300, view.sizeHint().height());
  view.show();
  const int rows = view.visibleLines();
  ASSERT_GE(rows, 2);
  ASSERT_LT(rows, 40);
  for (uint32_t line : {0u, 1u, 7u, 25u, 39u, 3u}) {
    view.setPosition(line * 16 + 3);
    ASSERT_EQ(view.currentLine(), int(line));
    EXPECT_LE(view.firstVisibleLine(), int(line));
    EXPECT_LT(int(line), view.firstVisibleLine() + rows) << line;
    EXPECT_LE(view.firstVisibleLine(), 40 - rows);  // no empty rows under the last line
  }
  // Without scrolling the text stays at the top.
  view.setScrolling(false);
  view.setPosition(30 * 16);
  EXPECT_EQ(view.currentLine(), 30);
  EXPECT_EQ(view.firstVisibleLine(), 0);
  view.setScrolling(true);
  EXPECT_LE(view.firstVisibleLine(), 30);
  EXPECT_LT(30, view.firstVisibleLine() + rows);
  view.grab();
}

// ---- Channel monitor -------------------------------------------------------------------------

TEST(ChannelMonitor, LevelsClampRiseAtOnceAndFallSmoothly) {
  ChannelMonitor monitor(nullptr);
  uint8_t levels[16] = {};
  levels[0] = 200;
  levels[1] = 127;
  levels[2] = 60;
  levels[15] = 255;
  monitor.setLevels(levels);
  EXPECT_EQ(monitor.level(0), 127);
  EXPECT_EQ(monitor.level(1), 127);
  EXPECT_EQ(monitor.level(2), 60);
  EXPECT_EQ(monitor.level(3), 0);
  EXPECT_EQ(monitor.level(15), 127);
  EXPECT_EQ(monitor.level(16), 0);
  EXPECT_EQ(monitor.level(-1), 0);
  EXPECT_FALSE(monitor.decaying() && monitor.level(0) < 127);

  // Silence: the bars fall step by step, never below the new level, never jumping to it.
  uint8_t quiet[16] = {};
  quiet[2] = 40;
  monitor.setLevels(quiet);
  EXPECT_EQ(monitor.level(0), 127);
  EXPECT_TRUE(monitor.decaying());
  monitor.decayStep();
  EXPECT_EQ(monitor.level(0), 127 - ChannelMonitor::DECAY_PER_STEP);
  EXPECT_EQ(monitor.level(2), 60 - ChannelMonitor::DECAY_PER_STEP);
  EXPECT_EQ(monitor.peak(0), 127);  // the peak holds a while
  for (int i = 0; i < 200; ++i) monitor.decayStep();
  EXPECT_EQ(monitor.level(0), 0);
  EXPECT_EQ(monitor.level(2), 40);
  EXPECT_EQ(monitor.peak(0), 0);
  EXPECT_EQ(monitor.peak(2), 40);
  EXPECT_FALSE(monitor.decaying());

  // A louder update during the fall lifts the bar at once.
  levels[0] = 90;
  monitor.setLevels(levels);
  EXPECT_EQ(monitor.level(0), 90);
  monitor.clear();
  for (int ch = 0; ch < 16; ++ch) EXPECT_EQ(monitor.level(ch), 0);
  EXPECT_FALSE(monitor.decaying());
}

TEST(ChannelMonitor, ItsOwnTimerDoesTheFall) {
  ChannelMonitor monitor(nullptr);
  monitor.resize(440, 64);
  monitor.show();
  uint8_t levels[16];
  for (int ch = 0; ch < 16; ++ch) levels[ch] = uint8_t(ch * 8);
  monitor.setLevels(levels);
  monitor.grab();
  const uint8_t quiet[16] = {};
  monitor.setLevels(quiet);
  EXPECT_TRUE(QTest::qWaitFor([&] { return monitor.level(15) < 120; }, 2000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return !monitor.decaying(); }, 5000));
  for (int ch = 0; ch < 16; ++ch) EXPECT_EQ(monitor.level(ch), 0);
  monitor.grab();
}
