// The channel monitor: sixteen level bars with the channel numbers under them. The window sends
// the levels every 100 ms; between two updates a bar that has dropped falls by a fixed step on
// the monitor's own timer, which runs only while something is still falling.
#include <QPainter>
#include <QTimer>
#include <algorithm>

#include "app/panels/panels.h"

namespace vlm {

namespace {

constexpr int MAX_LEVEL = 127;

QColor barColour(int level) {
  // Green at the bottom of the range, through yellow, to orange-red near the top.
  const int hue = 120 - (std::clamp(level, 0, MAX_LEVEL) * 110) / MAX_LEVEL;
  return QColor::fromHsv(hue, 220, 230);
}

}  // namespace

ChannelMonitor::ChannelMonitor(QWidget* parent) : QWidget(parent) {
  timer_ = new QTimer(this);
  timer_->setInterval(DECAY_INTERVAL_MS);
  connect(timer_, &QTimer::timeout, this, &ChannelMonitor::decayStep);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QSize ChannelMonitor::sizeHint() const {
  return QSize(440, 64);
}

void ChannelMonitor::setLevels(const uint8_t levels[16]) {
  bool changed = false;
  for (int ch = 0; ch < 16; ++ch) {
    const int v = std::min<int>(levels[ch], MAX_LEVEL);
    targets_[ch] = v;
    if (v > levels_[ch]) {
      levels_[ch] = v;
      changed = true;
    }
    if (v >= peaks_[ch]) {
      peaks_[ch] = v;
      peakHold_[ch] = PEAK_HOLD_STEPS;
      changed = true;
    }
  }
  if (decaying()) {
    if (!timer_->isActive()) timer_->start();
  }
  if (changed) update();
}

void ChannelMonitor::clear() {
  std::fill(std::begin(levels_), std::end(levels_), 0);
  std::fill(std::begin(targets_), std::end(targets_), 0);
  std::fill(std::begin(peaks_), std::end(peaks_), 0);
  std::fill(std::begin(peakHold_), std::end(peakHold_), 0);
  timer_->stop();
  update();
}

int ChannelMonitor::level(int channel) const {
  if (channel < 0 || channel > 15) return 0;
  return levels_[channel];
}

int ChannelMonitor::peak(int channel) const {
  if (channel < 0 || channel > 15) return 0;
  return peaks_[channel];
}

bool ChannelMonitor::decaying() const {
  for (int ch = 0; ch < 16; ++ch) {
    if (levels_[ch] > targets_[ch] || peaks_[ch] > levels_[ch]) return true;
  }
  return false;
}

void ChannelMonitor::decayStep() {
  bool changed = false;
  for (int ch = 0; ch < 16; ++ch) {
    if (levels_[ch] > targets_[ch]) {
      levels_[ch] = std::max(targets_[ch], levels_[ch] - DECAY_PER_STEP);
      changed = true;
    }
    if (peakHold_[ch] > 0) {
      --peakHold_[ch];
    } else if (peaks_[ch] > levels_[ch]) {
      peaks_[ch] = std::max(levels_[ch], peaks_[ch] - DECAY_PER_STEP / 2);
      changed = true;
    }
  }
  if (!decaying()) timer_->stop();
  if (changed) update();
}

void ChannelMonitor::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect all = rect();
  p.fillRect(all, QColor(0x18, 0x1c, 0x20));
  const QFontMetrics fm = fontMetrics();
  const int labelHeight = fm.height();
  const int barTop = 3;
  const int barBottom = all.height() - labelHeight - 1;
  const int barSpan = std::max(1, barBottom - barTop);
  const int slot = all.width() / 16;
  const int left = (all.width() - slot * 16) / 2;
  const int barWidth = std::max(2, slot - 4);
  for (int ch = 0; ch < 16; ++ch) {
    const int x = left + ch * slot + (slot - barWidth) / 2;
    // The empty groove, then the lit part, then the peak mark.
    p.fillRect(x, barTop, barWidth, barSpan, QColor(0x2a, 0x30, 0x36));
    const int h = (levels_[ch] * barSpan) / MAX_LEVEL;
    if (h > 0) p.fillRect(x, barBottom - h, barWidth, h, barColour(levels_[ch]));
    if (peaks_[ch] > 0) {
      const int py = barBottom - (peaks_[ch] * barSpan) / MAX_LEVEL;
      p.fillRect(x, std::max(barTop, py - 1), barWidth, 2, QColor(0xff, 0x60, 0x40));
    }
    p.setPen(QColor(0xc8, 0xd0, 0xd8));
    p.drawText(QRect(left + ch * slot, barBottom, slot, labelHeight + 1), Qt::AlignCenter,
               QString::number(ch + 1));
  }
}

}  // namespace vlm
