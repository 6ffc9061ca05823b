// The tool button: a bitmap inside a drawn 3-D frame, its press / command / right-press signals and
// its delayed tooltip; plus the loading of the button bitmaps (compiled in, or replacement .bmp
// files when the user has enabled them).
#include "app/graphic_button.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QToolTip>

#include "util/paths.h"

namespace vlm {

namespace {

bool g_buttonFiles = false;

// The one tooltip shown at a time, whichever button owns it.
QPointer<QLabel> g_shownTip;

// Resource names are plain identifiers; anything else (a separator, "..") never reaches the file
// system.
bool isPlainName(const QString& name) {
  if (name.isEmpty()) return false;
  for (QChar c : name)
    if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != u'_' && c != u'-') return false;
  return true;
}

struct FrameColours {
  QColor face, dark, shadow, highlight;
};

FrameColours frameColours(const QWidget& w, uint16_t flags) {
  if (flags & GB_FIXED_GREY)
    return {QColor(0xC0, 0xC0, 0xC0), QColor(0x40, 0x40, 0x40), QColor(0x80, 0x80, 0x80),
            QColor(0xFF, 0xFF, 0xFF)};
  const QPalette& p = w.palette();
  return {p.color(QPalette::Button), p.color(QPalette::Shadow), p.color(QPalette::Dark),
          p.color(QPalette::Light)};
}

// A horizontal or vertical line from `a` up to, but not including, `b`, as the frame lines are
// drawn pixel by pixel: each leg of a frame leaves its end point to the next one.
void lineTo(QPainter& p, const QColor& c, QPoint a, QPoint b) {
  if (a.y() == b.y()) {
    if (a.x() < b.x())
      p.fillRect(a.x(), a.y(), b.x() - a.x(), 1, c);
    else if (a.x() > b.x())
      p.fillRect(b.x() + 1, a.y(), a.x() - b.x(), 1, c);
  } else if (a.x() == b.x()) {
    if (a.y() < b.y())
      p.fillRect(a.x(), a.y(), 1, b.y() - a.y(), c);
    else
      p.fillRect(a.x(), b.y() + 1, 1, a.y() - b.y(), c);
  }
}

void polyline(QPainter& p, const QColor& c, QPoint a, QPoint b, QPoint e) {
  lineTo(p, c, a, b);
  lineTo(p, c, b, e);
}

// The disabled look: the picture in grey levels, half way towards the face colour. A picture that
// is all greys already is the greyed look of its button (BITMAP_NPLAYBACK) and stays as it is.
QImage greyedImage(const QImage& src, const QColor& face) {
  QImage img = src.convertToFormat(QImage::Format_RGB32);
  if (img.allGray()) return img;
  for (int y = 0; y < img.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
    for (int x = 0; x < img.width(); ++x) {
      const int g = qGray(row[x]);
      row[x] = qRgb((g + face.red()) / 2, (g + face.green()) / 2, (g + face.blue()) / 2);
    }
  }
  return img;
}

// One axis of the image placement: margin, drawn extent and source extent.
void placeAxis(int client, int display, int bitmap, uint16_t flags, bool pressed, int* margin,
               int* drawn, int* source) {
  const int minMargin = pressed ? 4 : 2;
  if (flags & (GB_NO_CENTRE | GB_STRETCH)) {
    // Stretching fills the client less the frame, so it starts at the frame too.
    *margin = minMargin;
  } else {
    *margin = pressed ? (client - display - 4) / 2 + 4 : (client - display) / 2;
    if (*margin < minMargin) *margin = minMargin;
  }
  const int room = client - 4;
  if (room < display || (flags & GB_STRETCH)) {
    *drawn = room;
    if (flags & GB_STRETCH)
      *source = bitmap;
    else
      *source = display > 0 ? int(int64_t(bitmap) * room / display) : 0;
  } else {
    *drawn = display;
    *source = bitmap;
  }
  if (*drawn < 0) *drawn = 0;
  if (*source < 0) *source = 0;
  if (*source > bitmap) *source = bitmap;
}

}  // namespace

ButtonGeometry buttonGeometry(int w, int h, int displayWidth, int displayHeight, int bitmapWidth,
                              int bitmapHeight, uint16_t flags, bool pressed) {
  ButtonGeometry g;
  placeAxis(w, displayWidth, bitmapWidth, flags, pressed, &g.left, &g.drawnWidth, &g.sourceWidth);
  placeAxis(h, displayHeight, bitmapHeight, flags, pressed, &g.top, &g.drawnHeight,
            &g.sourceHeight);
  return g;
}

// ---- bitmaps ----

void setButtonFilesEnabled(bool enabled) {
  if (enabled == g_buttonFiles) return;
  g_buttonFiles = enabled;
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return;
  for (QWidget* w : QApplication::allWidgets())
    if (auto* b = qobject_cast<GraphicButton*>(w); b && !(b->flags() & GB_FROM_FILE))
      b->setBitmap(0, b->bitmapSource());
}
bool buttonFilesEnabled() {
  return g_buttonFiles;
}

QStringList buttonBitmapFolders() {
  QStringList dirs;
  // bmp/ of a build tree's bin/, or of the install's share/vlmplay.
  for (const std::string& folder : readOnlyFolders(programDirectory()))
    dirs << QDir::cleanPath(QFile::decodeName((folder + "bmp").c_str()));
  QString data = qEnvironmentVariable("XDG_DATA_HOME");
  if (data.isEmpty() || !QDir::isAbsolutePath(data))
    data = QDir::homePath() + QStringLiteral("/.local/share");
  dirs << data + QStringLiteral("/vlmplay/bmp");
  return dirs;
}

namespace {

uint32_t le32(const QByteArray& b, int at) {
  return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 |
         uint32_t(uint8_t(b[at + 2])) << 16 | uint32_t(uint8_t(b[at + 3])) << 24;
}
uint16_t le16(const QByteArray& b, int at) {
  return uint16_t(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8);
}

constexpr int BMP_FILE_HEADER = 14;
constexpr uint32_t BI_RGB = 0, BI_BITFIELDS = 3;
// The largest picture allowed, at 32 bits, with room for headers and a colour table.
constexpr qint64 MAX_BMP_FILE = qint64(GB_MAX_BITMAP_SIDE) * GB_MAX_BITMAP_SIDE * 4 + 4096;

// The headers must describe a picture of sane size whose uncompressed pixels are all in the file;
// a cut-short file would otherwise decode as a half-garbage picture.
bool plausibleBmp(const QByteArray& b) {
  if (b.size() < BMP_FILE_HEADER + 12 || b[0] != 'B' || b[1] != 'M') return false;
  const uint32_t offBits = le32(b, 10);
  const uint32_t infoSize = le32(b, 14);
  int64_t w, h;
  uint32_t bits, compression = BI_RGB;
  if (infoSize == 12) {  // the old core header
    w = le16(b, 18);
    h = le16(b, 20);
    bits = le16(b, 24);
  } else {
    if (infoSize < 40 || b.size() < BMP_FILE_HEADER + 40) return false;
    w = int32_t(le32(b, 18));
    h = int32_t(le32(b, 22));
    bits = le16(b, 28);
    compression = le32(b, 30);
  }
  if (h < 0) h = -h;  // top-down
  if (w <= 0 || h <= 0 || w > GB_MAX_BITMAP_SIDE || h > GB_MAX_BITMAP_SIDE) return false;
  if (offBits >= uint32_t(b.size())) return false;
  if (compression == BI_RGB || compression == BI_BITFIELDS) {
    const int64_t stride = (w * bits + 31) / 32 * 4;
    if (int64_t(offBits) + stride * h > b.size()) return false;
  }
  return true;
}

}  // namespace

QImage readButtonBitmapFile(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly) || f.size() > MAX_BMP_FILE) return {};
  const QByteArray bytes = f.readAll();
  if (!plausibleBmp(bytes)) return {};
  QBuffer buffer;
  buffer.setData(bytes);
  QImageReader reader(&buffer, "bmp");
  reader.setDecideFormatFromContent(false);
  const QSize size = reader.size();
  if (!size.isValid() || size.width() > GB_MAX_BITMAP_SIDE || size.height() > GB_MAX_BITMAP_SIDE)
    return {};
  QImage img;
  if (!reader.read(&img) || img.size() != size) return {};
  return img;
}

QImage loadButtonBitmap(const QString& resourceName) {
  initAppResources();
  if (!isPlainName(resourceName)) return {};
  if (g_buttonFiles) {
    // The first folder that has the file decides; a damaged file gives the compiled-in picture.
    for (const QString& dir : buttonBitmapFolders()) {
      QString found;
      for (const QString& name : {resourceName, resourceName.toLower()}) {
        const QString path = dir + u'/' + name + QStringLiteral(".bmp");
        if (QFileInfo(path).isFile()) {
          found = path;
          break;
        }
      }
      if (found.isEmpty()) continue;
      const QImage img = readButtonBitmapFile(found);
      if (!img.isNull()) return img;
      break;
    }
  }
  return readButtonBitmapFile(QStringLiteral(":/bmp/") + resourceName.toUpper() +
                              QStringLiteral(".bmp"));
}

// ---- the widget ----

GraphicButton::GraphicButton(int id, const QString& bitmapName, uint16_t flags, QWidget* parent)
    : QWidget(parent), id_(id), flags_(flags), source_(bitmapName) {
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);  // every pixel is painted
  bitmap_ =
      (flags_ & GB_FROM_FILE) ? readButtonBitmapFile(bitmapName) : loadButtonBitmap(bitmapName);
  displayWidth_ = bitmap_.width();
  displayHeight_ = bitmap_.height();
}

// Buttons go away with their window; nothing else happens then (in particular the application
// keeps running).
GraphicButton::~GraphicButton() {
  if (tooltipTimer_) killTimer(tooltipTimer_);
}

void GraphicButton::setDisplaySize(bool percent, int width, int height) {
  if (percent) {
    displayWidth_ = int(int64_t(bitmap_.width()) * width / 100);
    displayHeight_ = int(int64_t(bitmap_.height()) * height / 100);
  } else {
    displayWidth_ = width;
    displayHeight_ = height;
  }
  if (displayWidth_ < 0) displayWidth_ = 0;
  if (displayHeight_ < 0) displayHeight_ = 0;
  updateGeometry();
  update();
}

void GraphicButton::setBitmap(uint16_t sourceFlag, const QString& nameOrPath) {
  if (nameOrPath.isEmpty()) return;
  flags_ = uint16_t((flags_ & ~GB_FROM_FILE) | (sourceFlag & GB_FROM_FILE));
  source_ = nameOrPath;
  bitmap_ =
      (flags_ & GB_FROM_FILE) ? readButtonBitmapFile(nameOrPath) : loadButtonBitmap(nameOrPath);
  greyed_ = QImage();
  displayWidth_ = bitmap_.width();
  displayHeight_ = bitmap_.height();
  updateGeometry();
  update();
}

void GraphicButton::setTooltipText(const QString& text) {
  int n = int(std::min<qsizetype>(text.size(), GB_TOOLTIP_CHARS));
  // Never keep half of a surrogate pair.
  if (n > 0 && n < text.size() && text.at(n - 1).isHighSurrogate()) --n;
  tooltip_ = text.left(n);
  if (tooltip_.isEmpty()) hideTooltip();
}

QSize GraphicButton::sizeHint() const {
  return QSize(displayWidth_ + 4, displayHeight_ + 4);
}

QWidget* GraphicButton::tooltipWindow() const {
  return tip_ && tip_->isVisible() ? tip_ : nullptr;
}

void GraphicButton::setLatched(bool on) {
  if (latched_ == on) return;
  latched_ = on;
  update();
}

void GraphicButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const int w = width(), h = height();
  const FrameColours c = frameColours(*this, flags_);
  const ButtonGeometry g = buttonGeometry(w, h, displayWidth_, displayHeight_, bitmap_.width(),
                                          bitmap_.height(), flags_, down_ || latched_);
  // The face around the image.
  p.fillRect(0, 0, g.left, h, c.face);
  p.fillRect(0, 0, w, g.top, c.face);
  p.fillRect(g.left + g.drawnWidth, 0, w - g.left - g.drawnWidth, h, c.face);
  p.fillRect(0, g.top + g.drawnHeight, w, h - g.top - g.drawnHeight, c.face);
  if (down_ || latched_) {
    polyline(p, c.dark, {w - 1, 0}, {0, 0}, {0, h - 1});
    polyline(p, c.shadow, {w - 2, 1}, {1, 1}, {1, h - 2});
  } else {
    polyline(p, c.dark, {w - 1, 0}, {w - 1, h - 1}, {0, h - 1});
    polyline(p, c.shadow, {w - 2, 1}, {w - 2, h - 2}, {1, h - 2});
    polyline(p, c.face, {w - 1, 0}, {0, 0}, {0, h - 1});
    polyline(p, c.highlight, {w - 2, 1}, {1, 1}, {1, h - 2});
  }
  if (bitmap_.isNull()) {
    // Nothing to show: the image area keeps the face colour.
    p.fillRect(g.left, g.top, g.drawnWidth, g.drawnHeight, c.face);
    return;
  }
  const QImage* img = &bitmap_;
  if (!isEnabled()) {
    if (greyed_.isNull()) greyed_ = greyedImage(bitmap_, c.face);
    img = &greyed_;
  }
  // Source from the top left, so a button too small for its picture shows its top-left part.
  p.drawImage(QRect(g.left, g.top, g.drawnWidth, g.drawnHeight), *img,
              QRect(0, 0, g.sourceWidth, g.sourceHeight));
}

void GraphicButton::mousePressEvent(QMouseEvent* e) {
  if (tooltipWindow())
    hideTooltip();
  else if (tooltipTimer_) {
    killTimer(tooltipTimer_);
    tooltipTimer_ = 0;
  }
  if (e->button() == Qt::LeftButton) {
    // Qt keeps the mouse grabbed by this widget until the button is released.
    down_ = true;
    repaint();
    emit pressed(id_);
  } else if (e->button() == Qt::RightButton) {
    emit rightPressed(id_);
  }
}

void GraphicButton::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || !down_) return;
  down_ = false;
  update();
  emit command(id_);
}

void GraphicButton::mouseMoveEvent(QMouseEvent* e) {
  if (tooltipTimer_) {
    killTimer(tooltipTimer_);
    tooltipTimer_ = 0;
  }
  const QPoint pos = e->position().toPoint();
  if (pos == lastPos_) return;
  if (tooltipWindow())
    hideTooltip();
  else if (e->buttons() == Qt::NoButton)
    tooltipTimer_ = startTimer(GB_TOOLTIP_DELAY_MS);
  lastPos_ = pos;
}

void GraphicButton::leaveEvent(QEvent*) {
  if (tooltipTimer_) {
    killTimer(tooltipTimer_);
    tooltipTimer_ = 0;
  }
  hideTooltip();
}

void GraphicButton::timerEvent(QTimerEvent* e) {
  if (e->timerId() != tooltipTimer_) {
    QWidget::timerEvent(e);
    return;
  }
  killTimer(tooltipTimer_);
  tooltipTimer_ = 0;
  if (tooltipWindow() || down_) return;
  if (!tooltip_.isEmpty() && isEnabled() && isVisible() && rect().contains(lastPos_) &&
      window()->isActiveWindow())
    showTooltip();
}

void GraphicButton::changeEvent(QEvent* e) {
  if (e->type() == QEvent::EnabledChange) {
    if (!isEnabled()) {
      down_ = false;
      hideTooltip();
      if (tooltipTimer_) {
        killTimer(tooltipTimer_);
        tooltipTimer_ = 0;
      }
    }
    update();
  } else if (e->type() == QEvent::ActivationChange && !window()->isActiveWindow()) {
    hideTooltip();
  } else if (e->type() == QEvent::PaletteChange) {
    greyed_ = QImage();
  }
  QWidget::changeEvent(e);
}

void GraphicButton::hideEvent(QHideEvent* e) {
  hideTooltip();
  if (tooltipTimer_) {
    killTimer(tooltipTimer_);
    tooltipTimer_ = 0;
  }
  QWidget::hideEvent(e);
}

void GraphicButton::showTooltip() {
  if (!tip_) {
    // A child with the tooltip window type: a top-level window that goes away with the button.
    tip_ = new QLabel(this, Qt::ToolTip | Qt::FramelessWindowHint);
    tip_->setAttribute(Qt::WA_ShowWithoutActivating);
    tip_->setFrameStyle(QFrame::Box | QFrame::Plain);
    tip_->setLineWidth(1);
    tip_->setMargin(0);
    tip_->setIndent(0);
    tip_->setPalette(QToolTip::palette());
    tip_->setAutoFillBackground(true);
    tip_->setFont(font());
  }
  if (g_shownTip && g_shownTip != tip_) g_shownTip->hide();
  tip_->setText(tooltip_);
  tip_->resize(tip_->fontMetrics().size(Qt::TextSingleLine, tooltip_) + QSize(2, 2));
  tip_->move(mapToGlobal(lastPos_) + QPoint(0, 20));
  tip_->show();
  g_shownTip = tip_;
}

void GraphicButton::hideTooltip() {
  if (tip_) tip_->hide();
}

}  // namespace vlm
