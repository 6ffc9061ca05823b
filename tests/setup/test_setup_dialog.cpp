// The setup dialog driven as a user would: values shown and written, scrolling and drops in
// the external-application rows, association check boxes, Cancel, the settings-file editor,
// and the reload request that running players receive.
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDropEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTranslator>
#include <QUrl>
#include <thread>

#include "platform/instance_channel.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "setup/setup_dialog.h"
#include "setup_fixture.h"

using namespace vlm;

namespace {

QLineEdit* edit(SetupDialog& d, int id) {
  return qobject_cast<QLineEdit*>(d.control(id));
}
QString label(SetupDialog& d, int id) {
  return qobject_cast<QLabel*>(d.control(id))->text();
}
void click(SetupDialog& d, int id) {
  qobject_cast<QPushButton*>(d.control(id))->click();
}
std::string ini(const char* section, const char* key) {
  return readProfileString(section, key, "<none>", "vlmplay.ini");
}

class UrlCatcher : public QObject {
  Q_OBJECT
 public slots:
  void open(const QUrl& url) { urls << url; }

 public:
  QList<QUrl> urls;
};

}  // namespace

class SetupDialogTest : public SetupTest {
 protected:
  std::unique_ptr<SetupDialog> dialog() {
    return std::make_unique<SetupDialog>(programDir(), recorder());
  }
};

TEST_F(SetupDialogTest, FilesOutOfRangeShownAs1024AndCorrectedWhenWritten) {
  writeProfileInt("section", "files", 0, "vlmplay.ini");
  auto d = dialog();
  EXPECT_EQ(edit(*d, ID_FILES)->text(), "1024");
  const std::pair<const char*, const char*> cases[] = {{"0", "1"},     {"5000", "1024"},
                                                       {"300", "300"}, {"-7", "1"},
                                                       {"abc", "1"},   {"99999999999", "1024"}};
  for (const auto& [typed, written] : cases) {
    edit(*d, ID_FILES)->setText(typed);
    click(*d, ID_APPLY);
    EXPECT_EQ(ini("section", "files"), written) << typed;
    EXPECT_EQ(edit(*d, ID_FILES)->text(), written) << typed;
  }
  writeProfileInt("section", "files", 5000, "vlmplay.ini");
  EXPECT_EQ(edit(*dialog(), ID_FILES)->text(), "1024");
  writeProfileInt("section", "files", 300, "vlmplay.ini");
  EXPECT_EQ(edit(*dialog(), ID_FILES)->text(), "300");
}

TEST_F(SetupDialogTest, ScrollingShowsTheSlotsWithTheirNumbersAndCutsLongNames) {
  for (int i = 1; i <= APP_SLOTS; ++i) {
    writeProfileString("section", ("app" + std::to_string(i) + "file").c_str(),
                       ("/usr/bin/p" + std::to_string(i)).c_str(), "vlmplay.ini");
    writeProfileString("section", ("app" + std::to_string(i) + "name").c_str(),
                       utf8ToSjis("名前" + std::to_string(i)).c_str(), "vlmplay.ini");
  }
  auto d = dialog();
  EXPECT_EQ(label(*d, 401), QString::fromUtf8("ﾌｧｲﾙ名1"));
  EXPECT_EQ(label(*d, 406), QString::fromUtf8("表示名3"));
  auto* bar = qobject_cast<QScrollBar*>(d->control(ID_SCROLL));
  EXPECT_EQ(bar->maximum(), MAX_APP_OFFSET);
  // Line steps stop at the ends.
  for (int i = 0; i < 8; ++i) bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(d->slotOffset(), 5);
  EXPECT_EQ(label(*d, 401), QString::fromUtf8("ﾌｧｲﾙ名6"));
  EXPECT_EQ(label(*d, 406), QString::fromUtf8("表示名8"));
  EXPECT_EQ(edit(*d, 102)->text(), "/usr/bin/p6");
  EXPECT_EQ(edit(*d, 107)->text(), QString::fromUtf8("名前8"));

  // A 40-character name in the last row comes back cut to 31 bytes; a Shift-JIS name is cut
  // before a double-byte character that would not fit.
  edit(*d, 107)->setText(QString(40, 'x'));
  edit(*d, 105)->setText(QString::fromUtf8("あいうえおかきくけこさしすせそた"));  // 32 bytes
  bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
  bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(edit(*d, 107)->text(), QString(31, 'x'));
  EXPECT_EQ(edit(*d, 105)->text(), QString::fromUtf8("あいうえおかきくけこさしすせそ"));
  for (int i = 0; i < 8; ++i) bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
  EXPECT_EQ(d->slotOffset(), 0);
  EXPECT_EQ(edit(*d, 103)->text(), QString::fromUtf8("名前1"));

  click(*d, ID_APPLY);
  EXPECT_EQ(ini("section", "app8name"), std::string(31, 'x'));
  EXPECT_EQ(ini("section", "app7name"), utf8ToSjis("あいうえおかきくけこさしすせそ"));
  EXPECT_EQ(ini("section", "app1file"), "/usr/bin/p1");
}

TEST_F(SetupDialogTest, DropOnTheSecondPathAfterScrollingByOneFillsSlotThree) {
  auto d = dialog();
  d->show();
  qobject_cast<QScrollBar*>(d->control(ID_SCROLL))->setValue(1);
  auto* target = edit(*d, 104);
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile("/opt/tools/my editor")});
  const QPoint at = target->rect().center();
  QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
  EXPECT_EQ(target->text(), "/opt/tools/my editor");
  EXPECT_EQ(d->settings().apps[2].file, "/opt/tools/my editor");
  click(*d, ID_OK);
  EXPECT_EQ(ini("section", "app3file"), "/opt/tools/my editor");
  EXPECT_EQ(ini("section", "app2file"), "");
  EXPECT_EQ(d->result(), QDialog::Accepted);
}

TEST_F(SetupDialogTest, OtherKeysOfTheFileStayAndCancelWritesNothing) {
  writeFile(iniPath(),
            "[section]\r\nhistfile0=/a/b.mld\r\nfiles=300\r\n[control]\r\ndispcolor=7\r\n"
            "[mine]\r\nkey=\x83\x65\x83\x58\x83\x67\r\n");
  auto d = dialog();
  qobject_cast<QCheckBox*>(d->control(ID_FILEBUTTON))->setChecked(true);
  edit(*d, 103)->setText("Editor");
  const QByteArray before = readFile(iniPath());
  click(*d, ID_CANCEL);
  EXPECT_EQ(d->result(), QDialog::Rejected);
  EXPECT_EQ(readFile(iniPath()), before);
  EXPECT_TRUE(calls_.empty());

  auto again = dialog();
  qobject_cast<QCheckBox*>(again->control(ID_FILEBUTTON))->setChecked(true);
  click(*again, ID_APPLY);
  EXPECT_EQ(ini("control", "filebutton"), "1");
  EXPECT_EQ(ini("section", "histfile0"), "/a/b.mld");
  EXPECT_EQ(ini("control", "dispcolor"), "7");
  EXPECT_EQ(ini("mine", "key"), "\x83\x65\x83\x58\x83\x67");
  EXPECT_EQ(ini("section", "app8file"), "");  // every slot is written
  EXPECT_EQ(QDir(iniPath().section('/', 0, -2)).entryList(QDir::Files), QStringList{"vlmplay.ini"});
}

TEST_F(SetupDialogTest, AssociationBoxesStartFromOurEntryAndAreDisabledWithoutThePlayer) {
  {
    auto d = dialog();
    for (int id = 301; id <= 309; ++id) EXPECT_FALSE(d->control(id)->isEnabled()) << id;
    EXPECT_TRUE(d->statusText().contains("vlmplay"));
    click(*d, ID_APPLY);
    EXPECT_TRUE(calls_.empty());  // nothing registered for a player that is not there
    EXPECT_FALSE(QFile::exists(dataHome() + "/applications/vlmplay.desktop"));
  }
  putPlayer();
  {
    auto d = dialog();
    auto* box = qobject_cast<QCheckBox*>(d->control(305));
    EXPECT_TRUE(box->isEnabled());
    EXPECT_EQ(box->text(), QString::fromUtf8("J-SKYメロディ(smd/smz)"));
    box->setChecked(true);
    qobject_cast<QCheckBox*>(d->control(309))->setChecked(true);
    click(*d, ID_APPLY);
    EXPECT_EQ(d->statusText(), QString::fromUtf8("設定を保存しました"));
    EXPECT_EQ(callsOf("xdg-mime").size(), 2u);
  }
  auto d = dialog();
  for (int id = 301; id <= 309; ++id)
    EXPECT_EQ(qobject_cast<QCheckBox*>(d->control(id))->isChecked(), id == 305 || id == 309) << id;
}

TEST_F(SetupDialogTest, HelperFailureIsShownAndKeepsTheDialogOpen) {
  putPlayer();
  missing_ << "xdg-mime";
  auto d = dialog();
  d->show();
  qobject_cast<QCheckBox*>(d->control(303))->setChecked(true);
  click(*d, ID_OK);
  EXPECT_TRUE(d->statusText().contains("xdg-mime")) << d->statusText().toStdString();
  EXPECT_TRUE(d->isVisible());
  EXPECT_EQ(ini("section", "files"), "256");  // the settings were written all the same
}

TEST_F(SetupDialogTest, EditSettingsFileCreatesItAndOpensItWithTheDesktop) {
  UrlCatcher catcher;
  QDesktopServices::setUrlHandler("file", &catcher, "open");
  auto d = dialog();
  click(*d, ID_EDIT_INI);
  QDesktopServices::unsetUrlHandler("file");
  ASSERT_EQ(catcher.urls.size(), 1);
  EXPECT_EQ(catcher.urls[0].toLocalFile(), iniPath());
  EXPECT_TRUE(QFile::exists(iniPath()));
}

TEST_F(SetupDialogTest, RunningPlayersReceiveTheReloadAndADeadSocketIsSkipped) {
  // A player that died without closing its socket.
  const pid_t dead = fork();
  if (dead == 0) {
    openInstanceListener();
    _exit(0);
  }
  ASSERT_GT(dead, 0);
  ::waitpid(dead, nullptr, 0);
  const std::string dir = instanceSocketDir();
  ASSERT_FALSE(dir.empty());
  ASSERT_TRUE(QFile::exists(QString::fromStdString(dir + std::to_string(dead))));

  // A live one in a child: it reports the command it got through a pipe.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t live = fork();
  if (live == 0) {
    close(fds[0]);
    close(ready[0]);
    const int listener = openInstanceListener();
    const char ok = listener >= 0 ? 'y' : 'n';
    if (write(ready[1], &ok, 1) != 1) _exit(1);
    InstanceMessage m;
    for (int tries = 0; tries < 100 && !acceptInstanceMessage(listener, &m); ++tries) usleep(50000);
    const int32_t got = m.command;
    if (write(fds[1], &got, sizeof got) != sizeof got) _exit(1);
    closeInstanceListener(listener);
    _exit(0);
  }
  ASSERT_GT(live, 0);
  close(fds[1]);
  close(ready[1]);
  char ok = 0;
  ASSERT_EQ(read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'y');

  auto d = dialog();
  click(*d, ID_APPLY);
  int32_t command = 0;
  EXPECT_EQ(read(fds[0], &command, sizeof command), ssize_t(sizeof command));
  EXPECT_EQ(command, RELOAD_COMMAND);
  ::waitpid(live, nullptr, 0);
  EXPECT_TRUE(d->statusText().contains("VlmPlayer 1 ")) << d->statusText().toStdString();
  EXPECT_FALSE(QFile::exists(QString::fromStdString(dir + std::to_string(dead))));
  close(fds[0]);
  close(ready[0]);
}

// Japanese letters (kana, kanji, half-width kana) in a text.
static bool hasJapanese(const QString& text) {
  for (QChar c : text) {
    const char16_t u = c.unicode();
    const bool kana = u >= 0x3040 && u <= 0x30FF, halfWidth = u >= 0xFF61 && u <= 0xFF9F;
    if (kana || halfWidth || (u >= 0x4E00 && u <= 0x9FFF)) return true;
  }
  return false;
}

// The Japanese texts of the dialog: title, group boxes, labels, buttons and the status line.
static QStringList japaneseTexts(SetupDialog& d) {
  QStringList found;
  QStringList texts{d.windowTitle(), d.statusText()};
  for (QGroupBox* g : d.findChildren<QGroupBox*>()) texts << g->title();
  for (QLabel* l : d.findChildren<QLabel*>()) texts << l->text();
  for (QAbstractButton* b : d.findChildren<QAbstractButton*>()) texts << b->text();
  for (const QString& t : texts)
    if (hasJapanese(t)) found << t;
  return found;
}

// Japanese and no language keep the dialog Japanese; any other language shows it, its saved
// message included, in English.
TEST_F(SetupDialogTest, EnglishTextsUnlessTheLanguageIsJapanese) {
  putPlayer();
  EXPECT_EQ(installSetupTranslations("ja"), nullptr);
  EXPECT_EQ(installSetupTranslations(""), nullptr);
  EXPECT_FALSE(japaneseTexts(*dialog()).isEmpty());
  QTranslator* english = installSetupTranslations("en_US");
  ASSERT_NE(english, nullptr);
  {
    auto d = dialog();
    EXPECT_EQ(japaneseTexts(*d), QStringList());
    EXPECT_EQ(qobject_cast<QCheckBox*>(d->control(305))->text(),
              QStringLiteral("J-SKY melody (smd/smz)"));
    click(*d, ID_APPLY);
    EXPECT_EQ(d->statusText(), QStringLiteral("Settings saved"));
  }
  QCoreApplication::removeTranslator(english);
  delete english;
}

#include "test_setup_dialog.moc"
