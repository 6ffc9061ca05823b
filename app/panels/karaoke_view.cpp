// The karaoke display: the song's lyric lines, the current one highlighted (and, when the lyrics
// come as syllables, the part already sung in a second colour). With scrolling on, the view keeps
// the current line on its second row; without, it shows the text from the top and the wheel
// moves it.
#include <QPainter>
#include <QResizeEvent>
#include <QWheelEvent>
#include <algorithm>

#include "app/panels/panels.h"

namespace vlm {

namespace {

constexpr int MARGIN = 6;
const QColor BACKGROUND(0x10, 0x14, 0x28);
const QColor TEXT(0xa8, 0xb0, 0xc8);
const QColor CURRENT(0xff, 0xff, 0xff);
const QColor SUNG(0xff, 0xc0, 0x40);

}  // namespace

KaraokeView::KaraokeView(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
  QFont f = font();
  f.setPointSizeF(f.pointSizeF() * 1.2);
  setFont(f);
}

QSize KaraokeView::sizeHint() const {
  return QSize(440, lineHeight() * 4 + 2 * MARGIN);
}

int KaraokeView::lineHeight() const {
  return fontMetrics().lineSpacing() + 2;
}

int KaraokeView::visibleLines() const {
  return std::max(1, (height() - 2 * MARGIN) / lineHeight());
}

void KaraokeView::setLyrics(const std::vector<Lyric>& lyrics) {
  // The song's lyric table marks its line starts with '\n': such entries are syllables.
  for (const Lyric& l : lyrics) {
    if (l.text.contains(QLatin1Char('\n'))) return setSyllables(lyrics);
  }
  lines_.clear();
  lines_.reserve(lyrics.size());
  for (const Lyric& l : lyrics) {
    QString text = l.text;
    text.remove(QLatin1Char('\r'));
    lines_.push_back(Line{l.position, {{l.position, text}}, text});
  }
  reset();
}

void KaraokeView::setSyllables(const std::vector<Lyric>& syllables) {
  lines_.clear();
  for (const Lyric& s : syllables) {
    QString text = s.text;
    text.remove(QLatin1Char('\r'));
    // Each '\n' starts a new line at this entry's time; the text before the first one (often
    // none) still belongs to the line being sung.
    const QStringList parts = text.split(QLatin1Char('\n'));
    // A mark in front of the song's first text starts its first line, not an empty one.
    const bool markOnFirst = lines_.empty() && parts.size() > 1 && parts[0].isEmpty();
    for (int i = 0; i < parts.size(); ++i) {
      if (lines_.empty() || (i > 0 && !(markOnFirst && i == 1)))
        lines_.push_back(Line{s.position, {}, QString()});
      if (parts[i].isEmpty()) continue;
      Line& line = lines_.back();
      line.segments.push_back(Segment{s.position, parts[i]});
      line.text += parts[i];
    }
  }
  reset();
}

void KaraokeView::reset() {
  current_ = -1;
  sung_ = 0;
  top_ = 0;
  setPosition(position_);
  update();
}

QString KaraokeView::lineText(int line) const {
  if (line < 0 || line >= lineCount()) return QString();
  return lines_[line].text;
}

int KaraokeView::currentLine() const {
  return current_;
}

int KaraokeView::sungSegments() const {
  if (current_ < 0) return 0;
  const auto& segs = lines_[current_].segments;
  // Segments are in time order: count those that have started.
  auto it = std::upper_bound(segs.begin(), segs.end(), position_,
                             [](uint32_t pos, const Segment& s) { return pos < s.position; });
  return static_cast<int>(it - segs.begin());
}

int KaraokeView::sungChars() const {
  if (current_ < 0) return 0;
  int chars = 0;
  const auto& segs = lines_[current_].segments;
  for (int i = 0; i < sung_ && i < static_cast<int>(segs.size()); ++i) chars += segs[i].text.size();
  return chars;
}

void KaraokeView::setPosition(uint32_t position) {
  position_ = position;
  // The last line that has started; lines are in time order, so a binary search does.
  auto it = std::upper_bound(lines_.begin(), lines_.end(), position,
                             [](uint32_t pos, const Line& l) { return pos < l.position; });
  const int current = static_cast<int>(it - lines_.begin()) - 1;
  const int oldCurrent = current_;
  const int oldSung = sung_;
  current_ = current;
  sung_ = sungSegments();
  if (current_ != oldCurrent) follow();
  if (current_ != oldCurrent || sung_ != oldSung) update();
}

void KaraokeView::setScrolling(bool on) {
  if (scrolling_ == on) return;
  scrolling_ = on;
  top_ = 0;
  follow();
  update();
}

void KaraokeView::follow() {
  if (!scrolling_) return;
  // The current line on the second row, one line of what was sung above it; never past the end.
  const int rows = visibleLines();
  int top = std::max(0, current_ - (rows > 2 ? 1 : 0));
  top = std::min(top, std::max(0, lineCount() - rows));
  top_ = top;
}

void KaraokeView::resizeEvent(QResizeEvent*) {
  follow();
}

void KaraokeView::wheelEvent(QWheelEvent* event) {
  if (scrolling_) return QWidget::wheelEvent(event);
  const int step = event->angleDelta().y() > 0 ? -1 : (event->angleDelta().y() < 0 ? 1 : 0);
  const int top = std::clamp(top_ + step, 0, std::max(0, lineCount() - visibleLines()));
  if (top != top_) {
    top_ = top;
    update();
  }
  event->accept();
}

void KaraokeView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), BACKGROUND);
  const QFontMetrics fm = fontMetrics();
  const int lh = lineHeight();
  const int width = std::max(0, this->width() - 2 * MARGIN);
  int y = MARGIN;
  for (int i = top_; i < lineCount() && y < height(); ++i, y += lh) {
    const Line& line = lines_[i];
    const QRect r(MARGIN, y, width, lh);
    if (i == current_) {
      p.fillRect(r.adjusted(-MARGIN / 2, 0, MARGIN / 2, 0), QColor(0x28, 0x34, 0x60));
      const int sung = sungChars();
      const bool syllables = line.segments.size() > 1;
      if (syllables && sung > 0) {
        // Sung part in the highlight colour, the rest in the current line's colour.
        const QString done = line.text.left(sung);
        const int doneWidth = fm.horizontalAdvance(done);
        p.setPen(SUNG);
        p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter, done);
        p.setPen(CURRENT);
        p.drawText(
            r.adjusted(doneWidth, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
            fm.elidedText(line.text.mid(sung), Qt::ElideRight, std::max(0, width - doneWidth)));
      } else {
        p.setPen(syllables ? CURRENT : SUNG);
        p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter,
                   fm.elidedText(line.text, Qt::ElideRight, width));
      }
    } else {
      p.setPen(TEXT);
      p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter,
                 fm.elidedText(line.text, Qt::ElideRight, width));
    }
  }
}

}  // namespace vlm
