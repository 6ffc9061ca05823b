// The display: three text lines on an LCD-like face in one of the display colours. The first
// line is the title and status line ("key 3", "RESET"), larger; the two below carry the format,
// time and position. The labels elide long texts instead of widening the window, and take the
// application font, so that fontconfig supplies the Japanese glyphs.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QUrl>
#include <QVBoxLayout>
#include <random>

#include "app/panels/panel_util.h"
#include "app/panels/panels.h"

namespace vlm {

namespace {

struct DisplayColours {
  QRgb face, text;
};

// 0..7 the eight colours of the menu (4, the default, an LCD green), 8 unused, 9..15 the random
// ones. Each face has a text colour picked for contrast.
constexpr DisplayColours DISPLAY_COLOURS[16] = {
    {0x101010, 0x50f050},  // 0 black, green text
    {0x14286e, 0xe8f0ff},  // 1 navy
    {0x6a1414, 0xffe0c0},  // 2 dark red
    {0x40205e, 0xf4e0ff},  // 3 purple
    {0x9cbc8c, 0x142414},  // 4 LCD green
    {0x9fd4de, 0x0a2830},  // 5 pale cyan
    {0xf0c850, 0x302000},  // 6 amber
    {0xf4f4ee, 0x101010},  // 7 white
    {0xffb070, 0x301400},  // 8 (not a colour of its own: shown as 9)
    {0xffb070, 0x301400},  // 9 orange
    {0xf4b4cc, 0x3a0a1e},  // 10 pink
    {0x90c0f0, 0x0a1a38},  // 11 sky blue
    {0xc8f080, 0x1a2a00},  // 12 lime
    {0xc8bcf0, 0x1c1040},  // 13 lavender
    {0x304050, 0xe0f0ff},  // 14 slate
    {0x606020, 0xfffff0},  // 15 olive
};

int colourIndex(int colour) {
  if (colour < 0 || colour > 15) return 4;
  return colour;
}

// A label that draws its text elided at the right end, so that a long title or path never
// asks the layout for more width than the window has.
class DisplayLine : public QLabel {
 public:
  explicit DisplayLine(QWidget* parent) : QLabel(parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    setTextFormat(Qt::PlainText);
  }
  QSize minimumSizeHint() const override { return QSize(0, fontMetrics().height()); }
  QSize sizeHint() const override {
    return QSize(fontMetrics().horizontalAdvance(text()), fontMetrics().height());
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    p.setFont(font());
    const QRect r = contentsRect();
    p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter,
               fontMetrics().elidedText(text(), Qt::ElideRight, r.width()));
  }
};

}  // namespace

QColor displayColour(int colour) {
  return QColor(DISPLAY_COLOURS[colourIndex(colour)].face);
}

QColor displayTextColour(int colour) {
  return QColor(DISPLAY_COLOURS[colourIndex(colour)].text);
}

DisplayPanel::DisplayPanel(QWidget* parent) : QWidget(parent) {
  setAcceptDrops(true);
  setAutoFillBackground(true);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 4, 8, 4);
  layout->setSpacing(0);
  for (int i = 0; i < 3; ++i) {
    lines_[i] = new DisplayLine(this);
    if (i == 0) {
      QFont f = lines_[i]->font();
      f.setPointSizeF(f.pointSizeF() * 1.3);
      f.setBold(true);
      lines_[i]->setFont(f);
    }
    layout->addWidget(lines_[i]);
  }
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  setColour(4);
}

void DisplayPanel::setLine(int line, const QString& text) {
  if (line < 0 || line > 2) return;
  if (lines_[line]->text() == text) return;
  lines_[line]->setText(text);
}

QString DisplayPanel::line(int line) const {
  if (line < 0 || line > 2) return QString();
  return lines_[line]->text();
}

void DisplayPanel::setColour(int colour) {
  colour_ = colourIndex(colour);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, displayColour(colour_));
  pal.setColor(QPalette::WindowText, displayTextColour(colour_));
  setPalette(pal);
  update();
}

void DisplayPanel::showColourSetting(int dispcolor) {
  constexpr int RANDOM_FIRST = 9, RANDOM_COUNT = 7;
  static std::mt19937 random{std::random_device{}()};
  if (isRandomColourSetting(dispcolor))
    setColour(RANDOM_FIRST + int(random() % RANDOM_COUNT));
  else
    setColour(dispcolor);
}

QColor DisplayPanel::faceColour() const {
  return displayColour(colour_);
}

void DisplayPanel::paintEvent(QPaintEvent*) {
  // A sunken bevel around the face, like the glass of a small LCD.
  QPainter p(this);
  const QRect r = rect().adjusted(0, 0, -1, -1);
  const QColor face = displayColour(colour_);
  p.setPen(face.darker(170));
  p.drawLine(r.topLeft(), r.topRight());
  p.drawLine(r.topLeft(), r.bottomLeft());
  p.setPen(face.lighter(130));
  p.drawLine(r.bottomLeft(), r.bottomRight());
  p.drawLine(r.topRight(), r.bottomRight());
}

void DisplayPanel::dragEnterEvent(QDragEnterEvent* event) {
  if (!localPathsOf(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void DisplayPanel::dragMoveEvent(QDragMoveEvent* event) {
  if (!localPathsOf(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void DisplayPanel::dropEvent(QDropEvent* event) {
  const QStringList paths = localPathsOf(event->mimeData());
  if (paths.isEmpty()) return;
  event->acceptProposedAction();
  emit filesDropped(paths, (event->modifiers() & Qt::ControlModifier) != 0);
}

}  // namespace vlm
