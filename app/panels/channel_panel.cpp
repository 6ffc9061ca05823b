// The channel selection panel: one row of small toggle buttons, channels 1..16, "ALL" and the
// voice-output button. The buttons only report clicks with the Ctrl and Shift state of the
// click; which channels are on is the window's to decide, and it shows them with setSelection.
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>

#include "app/panels/panels.h"

namespace vlm {

namespace {

constexpr int CLICK_MODIFIERS = Qt::ControlModifier | Qt::ShiftModifier;

class ChannelButton : public QToolButton {
 public:
  explicit ChannelButton(QWidget* parent) : QToolButton(parent) {
    setCheckable(true);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAttribute(Qt::WA_Hover);
  }

  // The Ctrl/Shift state of the click now being reported: the one of the mouse or key event
  // that released the button, else (a click() from code) the application's current state.
  int takeModifiers() {
    const int mods = haveModifiers_ ? modifiers_ : int(QGuiApplication::keyboardModifiers());
    haveModifiers_ = false;
    return mods & CLICK_MODIFIERS;
  }

  QSize sizeHint() const override {
    const QFontMetrics fm = fontMetrics();
    return QSize(fm.horizontalAdvance(text().trimmed()) + 8, fm.height() + 6);
  }
  QSize minimumSizeHint() const override { return QSize(16, fontMetrics().height() + 6); }

 protected:
  // The look follows setSelection only.
  void nextCheckState() override {}

  void mouseReleaseEvent(QMouseEvent* event) override {
    modifiers_ = int(event->modifiers());
    haveModifiers_ = true;
    QToolButton::mouseReleaseEvent(event);
    haveModifiers_ = false;
  }
  void keyReleaseEvent(QKeyEvent* event) override {
    modifiers_ = int(event->modifiers());
    haveModifiers_ = true;
    QToolButton::keyReleaseEvent(event);
    haveModifiers_ = false;
  }

  // Drawn here rather than by the style, so that an on channel stands out clearly in any
  // style: lit (green face, dark text) when checked, grey when off, faded when disabled. The
  // labels come with trailing blanks ("Dr ", "1  "): drawn trimmed so that they centre.
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const bool on = isCheckable() && isChecked();
    QColor face = on ? QColor(0x8c, 0xd0, 0x6c) : palette().color(QPalette::Button);
    QColor ink = on ? QColor(0x10, 0x30, 0x08) : palette().color(QPalette::ButtonText);
    if (!isEnabled()) {
      face = palette().color(QPalette::Window);
      ink = palette().color(QPalette::Disabled, QPalette::ButtonText);
    } else if (isDown()) {
      face = face.darker(125);
    } else if (underMouse()) {
      face = face.lighter(108);
    }
    p.setPen(isEnabled() ? face.darker(150) : face.darker(120));
    p.setBrush(face);
    p.drawRoundedRect(r, 2, 2);
    if (hasFocus()) {
      p.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
      p.setBrush(Qt::NoBrush);
      p.drawRoundedRect(r.adjusted(1.5, 1.5, -1.5, -1.5), 1, 1);
    }
    p.setPen(ink);
    p.drawText(rect(), Qt::AlignCenter, text().trimmed());
  }

 private:
  int modifiers_ = 0;
  bool haveModifiers_ = false;
};

}  // namespace

ChannelPanel::ChannelPanel(QWidget* parent) : QWidget(parent) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(2, 1, 2, 1);
  layout->setSpacing(1);
  QFont small = font();
  small.setPointSizeF(small.pointSizeF() * 0.85);
  setFont(small);
  for (int ch = 0; ch < 16; ++ch) {
    channels_[ch] = makeButton(CMD_CHANNEL_FIRST + ch, QString::asprintf("%d  ", ch + 1));
    channels_[ch]->setToolTip(QStringLiteral("ch %1").arg(ch + 1));
    layout->addWidget(channels_[ch], 2);
  }
  layout->addSpacing(3);
  all_ = makeButton(CMD_ALL_CHANNELS, QStringLiteral("ALL"));
  all_->setCheckable(false);
  layout->addWidget(all_, 3);
  voice_ = makeButton(CMD_VOICE_OUTPUT, tr("声"));
  voice_->setToolTip(QStringLiteral("Voice"));
  layout->addWidget(voice_, 3);
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  setSelection(0xFFFF, true);
}

QToolButton* ChannelPanel::makeButton(int id, const QString& label) {
  auto* button = new ChannelButton(this);
  button->setText(label);
  connect(button, &QToolButton::clicked, this,
          [this, button, id] { emit command(id, button->takeModifiers()); });
  return button;
}

void ChannelPanel::setChannelLabel(int channel, const QString& label) {
  if (channel < 0 || channel > 15) return;
  channels_[channel]->setText(label);
}

void ChannelPanel::setChannelEnabled(int channel, bool enabled) {
  if (channel < 0 || channel > 15) return;
  channels_[channel]->setEnabled(enabled);
}

void ChannelPanel::setSelection(uint16_t channelMask, bool voiceOutput) {
  for (int ch = 0; ch < 16; ++ch) channels_[ch]->setChecked((channelMask >> ch) & 1);
  voice_->setChecked(voiceOutput);
}

void ChannelPanel::setVoiceEnabled(bool enabled) {
  voice_->setEnabled(enabled);
}

void ChannelPanel::setVoiceLabel(const QString& label) {
  voice_->setText(label);
}

QWidget* ChannelPanel::channelButton(int channel) const {
  if (channel < 0 || channel > 15) return nullptr;
  return channels_[channel];
}

QWidget* ChannelPanel::allButton() const {
  return all_;
}

QWidget* ChannelPanel::voiceButton() const {
  return voice_;
}

}  // namespace vlm
