// The graphic tool button: image placement, painting of the frame and image, its signals, the
// delayed tooltip, and where its bitmaps come from.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QInputDevice>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "app/graphic_button.h"
#include "qt_test_app.h"

using namespace vlm;

namespace {

const char* const BUTTON_BITMAPS[] = {
    "BITMAP_PLAY",     "BITMAP_STOP",      "BITMAP_PAUSE",    "BITMAP_OPEN",      "BITMAP_FLAT",
    "BITMAP_SHARP",    "BITMAP_MINUS",     "BITMAP_PLUS",     "BITMAP_PLAYDOWN",  "BITMAP_PLAYUP",
    "BITMAP_PLAYBACK", "BITMAP_NPLAYBACK", "BITMAP_PLAYNEXT", "BITMAP_NPLAYNEXT", "BITMAP_REC",
    "BITMAP_CUT",      "BITMAP_PROP",      "BITMAP_CUST1"};

// Pattern in 2 x 2 blocks, so a picture drawn at half size still has one exact colour per pixel.
QRgb blockColour(int bx, int by) {
  return qRgb(40 + bx * 20, 30 + by * 20, 200);
}

QRgb rgbOf(int bx, int by) {
  return blockColour(bx, by) & 0xFFFFFF;
}

QImage blockPattern(int w, int h) {
  QImage img(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img.setPixel(x, y, blockColour(x / 2, y / 2));
  return img;
}

QRgb at(const QImage& img, int x, int y) {
  return img.pixel(x, y) & 0xFFFFFF;
}

// The mouse events of QTest make a pointing device owned by the application. The test program's
// application is a function-level static, destroyed at exit after the list of devices it would
// unregister from; remove the devices while that list still exists.
class InputDevicesCleanup : public ::testing::Environment {
 public:
  void TearDown() override {
    if (!QCoreApplication::instance()) return;
    const QList<const QInputDevice*> devices = QInputDevice::devices();
    for (const QInputDevice* d : devices) delete const_cast<QInputDevice*>(d);
  }
};
const auto* const g_cleanup = ::testing::AddGlobalTestEnvironment(new InputDevicesCleanup);

class GraphicButtonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qtApp();
    ASSERT_TRUE(tmp_.isValid());
    for (const char* var : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR", "TMPDIR"}) {
      QDir(tmp_.path()).mkpath(var);
      qputenv(var, (tmp_.path() + "/" + var).toLocal8Bit());
    }
    setButtonFilesEnabled(false);
    initAppResources();
  }
  void TearDown() override { setButtonFilesEnabled(false); }

  QString dataBmpDir() {
    const QString d = tmp_.path() + "/XDG_DATA_HOME/vlmplay/bmp";
    QDir().mkpath(d);
    return d;
  }
  // A 20 x 18 block-pattern .bmp; returns its path.
  QString patternFile() {
    const QString path = tmp_.path() + "/pattern.bmp";
    EXPECT_TRUE(blockPattern(20, 18).save(path, "BMP"));
    return path;
  }
  // A top-level window holding one pattern button of the given client size.
  std::unique_ptr<QWidget> windowWith(GraphicButton** out, int w, int h, uint16_t flags) {
    auto win = std::make_unique<QWidget>();
    auto* b = new GraphicButton(7, patternFile(), uint16_t(flags | GB_FROM_FILE), win.get());
    b->setGeometry(10, 10, w, h);
    win->resize(200, 100);
    *out = b;
    return win;
  }
  QTemporaryDir tmp_;
};

}  // namespace

// ---- placement ----

TEST(ButtonGeometryTest, CentresThePictureAndShiftsItWhilePressed) {
  ButtonGeometry g = buttonGeometry(30, 26, 20, 18, 20, 18, GB_FIXED_GREY, false);
  EXPECT_EQ(g.left, 5);
  EXPECT_EQ(g.top, 4);
  EXPECT_EQ(g.drawnWidth, 20);
  EXPECT_EQ(g.drawnHeight, 18);
  EXPECT_EQ(g.sourceWidth, 20);
  EXPECT_EQ(g.sourceHeight, 18);
  g = buttonGeometry(30, 26, 20, 18, 20, 18, GB_FIXED_GREY, true);
  EXPECT_EQ(g.left, 7);
  EXPECT_EQ(g.top, 6);
  EXPECT_EQ(g.drawnWidth, 20);
  // Exactly fitting (client = picture + 4): margins 2, pressed 4.
  g = buttonGeometry(24, 22, 20, 18, 20, 18, 0, false);
  EXPECT_EQ(g.left, 2);
  EXPECT_EQ(g.top, 2);
  g = buttonGeometry(24, 22, 20, 18, 20, 18, 0, true);
  EXPECT_EQ(g.left, 4);
  EXPECT_EQ(g.top, 4);
  // Without centring the picture sits at the fixed margin.
  g = buttonGeometry(60, 40, 20, 18, 20, 18, GB_NO_CENTRE, false);
  EXPECT_EQ(g.left, 2);
  EXPECT_EQ(g.top, 2);
  g = buttonGeometry(60, 40, 20, 18, 20, 18, GB_NO_CENTRE, true);
  EXPECT_EQ(g.left, 4);
  EXPECT_EQ(g.top, 4);
}

TEST(ButtonGeometryTest, TooSmallButtonShowsTheTopLeftPartUnshrunk) {
  // 14 wide: 10 pixels of room, so 10 columns of the picture at their own size.
  ButtonGeometry g = buttonGeometry(14, 12, 20, 18, 20, 18, 0, false);
  EXPECT_EQ(g.left, 2);
  EXPECT_EQ(g.top, 2);
  EXPECT_EQ(g.drawnWidth, 10);
  EXPECT_EQ(g.sourceWidth, 10);
  EXPECT_EQ(g.drawnHeight, 8);
  EXPECT_EQ(g.sourceHeight, 8);
  // A picture shown at double size keeps the same scale when cut.
  g = buttonGeometry(24, 40, 40, 36, 20, 18, 0, false);
  EXPECT_EQ(g.drawnWidth, 20);
  EXPECT_EQ(g.sourceWidth, 10);
}

TEST(ButtonGeometryTest, StretchSqueezesTheWholePictureIntoTheFrame) {
  ButtonGeometry g = buttonGeometry(14, 12, 20, 18, 20, 18, GB_STRETCH, false);
  EXPECT_EQ(g.drawnWidth, 10);
  EXPECT_EQ(g.drawnHeight, 8);
  EXPECT_EQ(g.sourceWidth, 20);
  EXPECT_EQ(g.sourceHeight, 18);
  // A larger button is filled too, from the frame on.
  g = buttonGeometry(60, 40, 20, 18, 20, 18, GB_STRETCH, false);
  EXPECT_EQ(g.left, 2);
  EXPECT_EQ(g.top, 2);
  EXPECT_EQ(g.drawnWidth, 56);
  EXPECT_EQ(g.drawnHeight, 36);
  EXPECT_LE(g.left + g.drawnWidth, 60 - 2);
}

TEST(ButtonGeometryTest, DegenerateSizesGiveNoNegativeExtents) {
  for (int w : {0, 1, 3, 4}) {
    for (int dw : {0, 20}) {
      const ButtonGeometry g = buttonGeometry(w, w, dw, dw, 20, 18, 0, w % 2 == 0);
      EXPECT_GE(g.drawnWidth, 0);
      EXPECT_GE(g.drawnHeight, 0);
      EXPECT_GE(g.sourceWidth, 0);
      EXPECT_GE(g.sourceHeight, 0);
      EXPECT_LE(g.sourceWidth, 20);
    }
  }
  const ButtonGeometry none = buttonGeometry(30, 26, 0, 0, 0, 0, 0, false);
  EXPECT_EQ(none.drawnWidth, 0);
  EXPECT_EQ(none.sourceWidth, 0);
}

// ---- painting ----

TEST_F(GraphicButtonTest, RaisedAndSunkenFrameColours) {
  GraphicButton* b = nullptr;
  auto win = windowWith(&b, 30, 26, GB_FIXED_GREY);
  const int w = 30, h = 26, mx = w / 2, my = h / 2;
  QImage img = b->grab().toImage();
  EXPECT_EQ(at(img, w - 1, my), 0x404040u);  // dark frame right and bottom
  EXPECT_EQ(at(img, mx, h - 1), 0x404040u);
  EXPECT_EQ(at(img, w - 2, my), 0x808080u);  // shadow inside it
  EXPECT_EQ(at(img, mx, h - 2), 0x808080u);
  EXPECT_EQ(at(img, 0, my), 0xC0C0C0u);  // face line left and top
  EXPECT_EQ(at(img, mx, 0), 0xC0C0C0u);
  EXPECT_EQ(at(img, 1, my), 0xFFFFFFu);  // highlight inside it
  EXPECT_EQ(at(img, mx, 1), 0xFFFFFFu);
  EXPECT_EQ(at(img, w - 1, 0), 0xC0C0C0u);  // the corners where the legs meet
  EXPECT_EQ(at(img, 0, h - 1), 0xC0C0C0u);
  EXPECT_EQ(at(img, w - 1, h - 1), 0x404040u);
  EXPECT_EQ(at(img, 3, my), 0xC0C0C0u);  // face between frame and picture
  EXPECT_EQ(at(img, 5, 4), rgbOf(0, 0));

  QTest::mousePress(b, Qt::LeftButton, {}, QPoint(15, 13));
  img = b->grab().toImage();
  EXPECT_EQ(at(img, 0, my), 0x404040u);  // sunken: dark top and left
  EXPECT_EQ(at(img, mx, 0), 0x404040u);
  EXPECT_EQ(at(img, 1, my), 0x808080u);
  EXPECT_EQ(at(img, mx, 1), 0x808080u);
  EXPECT_EQ(at(img, w - 1, my), 0xC0C0C0u);  // no dark edge bottom right
  // The picture moves two pixels right and down.
  EXPECT_EQ(at(img, 7, 6), rgbOf(0, 0));
  EXPECT_EQ(at(img, 7 + 19, 6 + 17), rgbOf(9, 8));
  EXPECT_EQ(at(img, 6, 6), 0xC0C0C0u);
  QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(15, 13));
  img = b->grab().toImage();
  EXPECT_EQ(at(img, 5, 4), rgbOf(0, 0));
  EXPECT_EQ(at(img, w - 1, my), 0x404040u);
}

TEST_F(GraphicButtonTest, SystemColoursWithoutFixedGrey) {
  GraphicButton* b = nullptr;
  auto win = windowWith(&b, 30, 26, 0);
  QPalette pal = b->palette();
  pal.setColor(QPalette::Button, QColor(0x11, 0x22, 0x33));
  pal.setColor(QPalette::Shadow, QColor(0x01, 0x02, 0x03));
  pal.setColor(QPalette::Dark, QColor(0x44, 0x55, 0x66));
  pal.setColor(QPalette::Light, QColor(0xAA, 0xBB, 0xCC));
  b->setPalette(pal);
  const QImage img = b->grab().toImage();
  EXPECT_EQ(at(img, 29, 13), 0x010203u);
  EXPECT_EQ(at(img, 28, 13), 0x445566u);
  EXPECT_EQ(at(img, 0, 13), 0x112233u);
  EXPECT_EQ(at(img, 1, 13), 0xAABBCCu);
  EXPECT_EQ(at(img, 3, 13), 0x112233u);
}

TEST_F(GraphicButtonTest, PictureIsCutOrScaledAsPlaced) {
  GraphicButton* b = nullptr;
  // Too narrow: the left part at its own size.
  auto win = windowWith(&b, 14, 22, GB_FIXED_GREY);
  QImage img = b->grab().toImage();
  for (int x = 0; x < 10; ++x) EXPECT_EQ(at(img, 2 + x, 2), rgbOf(x / 2, 0)) << x;
  EXPECT_EQ(at(img, 12, 2), 0x808080u);  // then the frame, not more picture
  // Stretched: the whole picture squeezed into 10 x 9.
  auto win2 = windowWith(&b, 14, 13, GB_FIXED_GREY | GB_STRETCH);
  img = b->grab().toImage();
  for (int k = 0; k < 10; ++k) EXPECT_EQ(at(img, 2 + k, 2 + k * 9 / 10), rgbOf(k, k * 9 / 10));
  // Display size 50 percent: half size, centred.
  auto win3 = windowWith(&b, 30, 26, GB_FIXED_GREY);
  b->setDisplaySize(true, 50, 50);
  EXPECT_EQ(b->displaySize(), QSize(10, 9));
  img = b->grab().toImage();
  for (int k = 0; k < 9; ++k) EXPECT_EQ(at(img, 10 + k, 8 + k), rgbOf(k, k)) << k;
  EXPECT_EQ(at(img, 20, 8), 0xC0C0C0u);
  // In pixels.
  b->setDisplaySize(false, 40, 36);
  EXPECT_EQ(b->displaySize(), QSize(40, 36));
}

TEST_F(GraphicButtonTest, DisabledPictureIsGreyedAndMissingPictureLeavesTheFace) {
  GraphicButton* b = nullptr;
  auto win = windowWith(&b, 30, 26, GB_FIXED_GREY);
  b->setEnabled(false);
  QImage img = b->grab().toImage();
  const QColor c(at(img, 5, 4));
  EXPECT_EQ(c.red(), c.green());
  EXPECT_EQ(c.green(), c.blue());
  EXPECT_NE(at(img, 5, 4), rgbOf(0, 0));
  EXPECT_EQ(at(img, 29, 13), 0x404040u);  // the frame stays

  // A picture drawn in greys is already the greyed look: shown unchanged.
  QWidget w1;
  GraphicButton grey(161, "BITMAP_NPLAYBACK", GB_FIXED_GREY, &w1);
  grey.setGeometry(0, 0, 24, 22);
  const QImage enabledLook = grey.grab().toImage();
  grey.setEnabled(false);
  EXPECT_EQ(grey.grab().toImage(), enabledLook);

  QWidget w2;
  GraphicButton none(1, "BITMAP_NO_SUCH", GB_FIXED_GREY, &w2);
  none.setGeometry(0, 0, 30, 26);
  EXPECT_TRUE(none.bitmap().isNull());
  img = none.grab().toImage();
  for (int y = 2; y < 24; ++y)
    for (int x = 2; x < 28; ++x) ASSERT_EQ(at(img, x, y), 0xC0C0C0u) << x << "," << y;
}

// ---- signals ----

TEST_F(GraphicButtonTest, PressCommandAndRightPress) {
  GraphicButton* b = nullptr;
  auto win = windowWith(&b, 30, 26, GB_FIXED_GREY);
  win->show();
  QSignalSpy pressed(b, &GraphicButton::pressed);
  QSignalSpy command(b, &GraphicButton::command);
  QSignalSpy right(b, &GraphicButton::rightPressed);

  QTest::mousePress(b, Qt::LeftButton, {}, QPoint(10, 10));
  ASSERT_EQ(pressed.count(), 1);
  EXPECT_EQ(pressed.at(0).at(0).toInt(), 7);
  EXPECT_TRUE(b->isDown());
  EXPECT_EQ(command.count(), 0);
  // Released far outside the button: still the command.
  QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(-40, 90));
  ASSERT_EQ(command.count(), 1);
  EXPECT_EQ(command.at(0).at(0).toInt(), 7);
  EXPECT_FALSE(b->isDown());
  // A release with no press before it does nothing.
  QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_EQ(command.count(), 1);

  QTest::mousePress(b, Qt::RightButton, {}, QPoint(10, 10));
  QTest::mouseRelease(b, Qt::RightButton, {}, QPoint(10, 10));
  ASSERT_EQ(right.count(), 1);
  EXPECT_EQ(right.at(0).at(0).toInt(), 7);
  EXPECT_EQ(pressed.count(), 1);
  EXPECT_EQ(command.count(), 1);

  // A quick second click is a second press and command, not swallowed as a double click.
  // What a real double click delivers: press, release, double click, release.
  QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(10, 10));
  QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(10, 10), b->mapToGlobal(QPointF(10, 10)),
                  Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(b, &dbl);
  QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_EQ(pressed.count(), 3);
  EXPECT_EQ(command.count(), 3);

  b->setEnabled(false);
  QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(10, 10));
  QTest::mouseClick(b, Qt::RightButton, {}, QPoint(10, 10));
  EXPECT_EQ(pressed.count(), 3);
  EXPECT_EQ(command.count(), 3);
  EXPECT_EQ(right.count(), 1);
}

TEST_F(GraphicButtonTest, DisablingWhileHeldSendsNoCommand) {
  GraphicButton* b = nullptr;
  auto win = windowWith(&b, 30, 26, GB_FIXED_GREY);
  win->show();
  QSignalSpy command(b, &GraphicButton::command);
  QTest::mousePress(b, Qt::LeftButton, {}, QPoint(10, 10));
  b->setEnabled(false);
  EXPECT_FALSE(b->isDown());
  b->setEnabled(true);
  QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_EQ(command.count(), 0);
}

TEST_F(GraphicButtonTest, DestroyingAButtonLeavesTheApplicationRunning) {
  auto* win = new QWidget;
  auto* b = new GraphicButton(1, "BITMAP_PLAY", GB_FIXED_GREY, win);
  (void)b;
  QTimer::singleShot(0, [win] { delete win; });
  QTimer::singleShot(150, [] { QCoreApplication::exit(7); });
  EXPECT_EQ(qtApp().exec(), 7);
}

// ---- tooltip ----

namespace {

void moveTo(QWidget* w, QPoint p) {
  QTest::mouseMove(w, p);
}

}  // namespace

TEST_F(GraphicButtonTest, TooltipAppearsAfterRestInTheActiveWindow) {
  GraphicButton* b = nullptr;
  auto win = windowWith(&b, 30, 26, GB_FIXED_GREY);
  b->setTooltipText(QStringLiteral("変換範囲指定"));
  win->show();
  win->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(win.get()));

  moveTo(b, QPoint(5, 6));
  QTest::qWait(200);
  EXPECT_EQ(b->tooltipWindow(), nullptr);  // not yet
  QTRY_VERIFY_WITH_TIMEOUT(b->tooltipWindow() != nullptr, 2000);
  QWidget* tip = b->tooltipWindow();
  EXPECT_TRUE(tip->isWindow());
  EXPECT_EQ(tip->pos(), b->mapToGlobal(QPoint(5, 6)) + QPoint(0, 20));
  const QSize text = tip->fontMetrics().size(Qt::TextSingleLine, QStringLiteral("変換範囲指定"));
  EXPECT_EQ(tip->size(), text + QSize(2, 2));

  // Moving to another position hides it.
  moveTo(b, QPoint(8, 6));
  EXPECT_EQ(b->tooltipWindow(), nullptr);

  // A rest shows it again; a press hides it.
  moveTo(b, QPoint(9, 7));
  QTRY_VERIFY_WITH_TIMEOUT(b->tooltipWindow() != nullptr, 2000);
  QTest::mousePress(b, Qt::LeftButton, {}, QPoint(9, 7));
  EXPECT_EQ(b->tooltipWindow(), nullptr);
  QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(9, 7));
}

TEST_F(GraphicButtonTest, NoTooltipWithoutTextOrWhileTheWindowIsInactive) {
  GraphicButton* b = nullptr;
  auto win = windowWith(&b, 30, 26, GB_FIXED_GREY);
  win->show();
  win->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(win.get()));
  moveTo(b, QPoint(5, 6));
  QTest::qWait(800);
  EXPECT_EQ(b->tooltipWindow(), nullptr);  // no text

  b->setTooltipText(QStringLiteral("再生"));
  QWidget other;
  other.resize(50, 50);
  other.show();
  other.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
  ASSERT_FALSE(win->isActiveWindow());
  moveTo(b, QPoint(10, 10));
  QTest::qWait(800);
  EXPECT_EQ(b->tooltipWindow(), nullptr);
}

TEST_F(GraphicButtonTest, TooltipTextKeepsAtMost24Characters) {
  QWidget w;
  GraphicButton b(1, "BITMAP_PLAY", GB_FIXED_GREY, &w);
  b.setTooltipText(QString(30, QChar(u'あ')));
  EXPECT_EQ(b.tooltipText(), QString(24, QChar(u'あ')));
  b.setTooltipText(QStringLiteral("未登録"));
  EXPECT_EQ(b.tooltipText(), QStringLiteral("未登録"));
  // A character outside the basic plane that would be cut in half is dropped whole.
  const QString wide = QString(23, QChar(u'a')) + QString::fromUcs4(U"\U0001F3B5");
  b.setTooltipText(wide);
  EXPECT_EQ(b.tooltipText(), QString(23, QChar(u'a')));
}

// ---- bitmaps ----

TEST_F(GraphicButtonTest, EveryButtonBitmapIsCompiledIn) {
  for (const char* name : BUTTON_BITMAPS) {
    const QImage img = loadButtonBitmap(name);
    ASSERT_FALSE(img.isNull()) << name;
    EXPECT_EQ(img.size(), QSize(20, 18)) << name;
    // Not a blank face: every picture has something drawn on it.
    int drawn = 0;
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x) drawn += at(img, x, y) != 0xC0C0C0u;
    EXPECT_GT(drawn, 20) << name;
  }
  EXPECT_TRUE(loadButtonBitmap("BITMAP_NO_SUCH").isNull());
  EXPECT_TRUE(loadButtonBitmap("../BITMAP_PLAY").isNull());
  EXPECT_TRUE(loadButtonBitmap("").isNull());
  const QImage icon(":/icons/vlmplay.png");
  EXPECT_EQ(icon.size(), QSize(48, 48));
  EXPECT_EQ(QImage(":/icons/vlmplay256.png").size(), QSize(256, 256));
}

TEST_F(GraphicButtonTest, ButtonFilesReplaceTheCompiledInPictures) {
  const QString dir = dataBmpDir();
  ASSERT_TRUE(blockPattern(6, 4).save(dir + "/BITMAP_PLAY.bmp", "BMP"));
  EXPECT_EQ(loadButtonBitmap("BITMAP_PLAY").size(), QSize(20, 18));  // files not enabled
  // Switching the setting reloads the buttons that exist, both ways.
  QWidget w0;
  GraphicButton early(151, "BITMAP_PLAY", GB_FIXED_GREY, &w0);
  EXPECT_EQ(early.displaySize(), QSize(20, 18));
  setButtonFilesEnabled(true);
  EXPECT_EQ(early.displaySize(), QSize(6, 4));
  setButtonFilesEnabled(false);
  EXPECT_EQ(early.displaySize(), QSize(20, 18));
  setButtonFilesEnabled(true);
  EXPECT_EQ(loadButtonBitmap("BITMAP_PLAY").size(), QSize(6, 4));
  EXPECT_EQ(loadButtonBitmap("BITMAP_STOP").size(), QSize(20, 18));  // no file: compiled in
  // The button takes the replacement and its size.
  QWidget w;
  GraphicButton b(151, "BITMAP_PLAY", GB_FIXED_GREY, &w);
  EXPECT_EQ(b.displaySize(), QSize(6, 4));

  const QStringList folders = buttonBitmapFolders();
  // Beside the program, bin/ beside it (a build tree), the install's share/vlmplay, the user's.
  ASSERT_EQ(folders.size(), 4);
  EXPECT_EQ(folders[0], QCoreApplication::applicationDirPath() + "/bmp");
  EXPECT_EQ(folders[2],
            QDir::cleanPath(QCoreApplication::applicationDirPath() + "/../share/vlmplay/bmp"));
  EXPECT_EQ(folders[3], dir);
}

TEST_F(GraphicButtonTest, DamagedOrHugeFilesFallBackToTheCompiledInPicture) {
  const QString dir = dataBmpDir();
  setButtonFilesEnabled(true);
  auto write = [&](const char* name, const QByteArray& bytes) {
    QFile f(dir + "/" + name + ".bmp");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  };
  write("BITMAP_PLAY", QByteArray("not a bitmap at all, just some text"));
  EXPECT_EQ(loadButtonBitmap("BITMAP_PLAY").size(), QSize(20, 18));

  // A header that claims 30000 x 30000 pixels, with no pixels after it.
  QByteArray huge(54, '\0');
  auto put32 = [&](int at, uint32_t v) {
    for (int i = 0; i < 4; ++i) huge[at + i] = char(v >> (8 * i));
  };
  huge[0] = 'B';
  huge[1] = 'M';
  put32(2, 54);
  put32(10, 54);
  put32(14, 40);
  put32(18, 30000);
  put32(22, 30000);
  huge[26] = 1;
  huge[28] = 24;
  write("BITMAP_STOP", huge);
  EXPECT_TRUE(readButtonBitmapFile(dir + "/BITMAP_STOP.bmp").isNull());
  EXPECT_EQ(loadButtonBitmap("BITMAP_STOP").size(), QSize(20, 18));

  // A real bitmap cut short in its pixels.
  QFile good(patternFile());
  ASSERT_TRUE(good.open(QIODevice::ReadOnly));
  write("BITMAP_PAUSE", good.readAll().left(100));
  const QImage cut = loadButtonBitmap("BITMAP_PAUSE");
  EXPECT_EQ(cut.size(), QSize(20, 18));
  EXPECT_NE(at(cut, 0, 17), rgbOf(0, 8));  // the compiled-in one, not the pattern

  write("BITMAP_REC", QByteArray());
  EXPECT_EQ(loadButtonBitmap("BITMAP_REC").size(), QSize(20, 18));
}

TEST_F(GraphicButtonTest, SetBitmapSwitchesSourceAndResetsTheDisplaySize) {
  QWidget w;
  GraphicButton b(1, "BITMAP_PLAY", GB_FIXED_GREY, &w);
  b.setDisplaySize(true, 200, 200);
  EXPECT_EQ(b.displaySize(), QSize(40, 36));
  const QString path = tmp_.path() + "/small.bmp";
  ASSERT_TRUE(blockPattern(8, 6).save(path, "BMP"));
  b.setBitmap(GB_FROM_FILE, path);
  EXPECT_TRUE(b.flags() & GB_FROM_FILE);
  EXPECT_TRUE(b.flags() & GB_FIXED_GREY);
  EXPECT_EQ(b.displaySize(), QSize(8, 6));
  b.setBitmap(0, QString());  // nothing given: nothing changes
  EXPECT_EQ(b.displaySize(), QSize(8, 6));
  b.setBitmap(0, "BITMAP_STOP");
  EXPECT_FALSE(b.flags() & GB_FROM_FILE);
  EXPECT_EQ(b.displaySize(), QSize(20, 18));
  b.setBitmap(GB_FROM_FILE, tmp_.path() + "/missing.bmp");
  EXPECT_TRUE(b.bitmap().isNull());
  EXPECT_EQ(b.displaySize(), QSize(0, 0));
}

TEST_F(GraphicButtonTest, IndexedColourBitmapsDrawWithTheirColourTable) {
  QImage indexed(20, 18, QImage::Format_Indexed8);
  indexed.setColorCount(3);
  indexed.setColor(0, qRgb(0xC0, 0xC0, 0xC0));
  indexed.setColor(1, qRgb(0x12, 0x34, 0x56));
  indexed.setColor(2, qRgb(0xFE, 0xDC, 0xBA));
  indexed.fill(0);
  indexed.setPixel(0, 0, 1);
  indexed.setPixel(19, 17, 2);
  const QString path = tmp_.path() + "/indexed.bmp";
  ASSERT_TRUE(indexed.save(path, "BMP"));
  QWidget win;
  GraphicButton b(1, path, GB_FROM_FILE | GB_PALETTE | GB_FIXED_GREY, &win);
  b.setGeometry(0, 0, 30, 26);
  const QImage img = b.grab().toImage();
  EXPECT_EQ(at(img, 5, 4), 0x123456u);
  EXPECT_EQ(at(img, 5 + 19, 4 + 17), 0xFEDCBAu);
}
