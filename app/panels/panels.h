// The panels of the main window: the display with its three lines, the channel selection panel,
// the channel monitor, the karaoke display and the playlist panel. Each panel only shows what it
// is given and turns the user's clicks into command ids for the main window's onCommand; none of
// them holds player state.
//
// Keyboard: the panel buttons and the playlist keep Qt::TabFocus / the list's own focus, so they
// can be reached with Tab; the window's application-wide key filter still sees every key pressed
// while one of them has the focus, which is how the player's keys keep working there.
#pragma once

#include <QColor>
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <vector>

class QLabel;
class QListWidget;
class QTimer;
class QToolButton;

namespace vlm {

// Channel button command ids: 471..486 for channels 1..16, all on, voice output.
inline constexpr int CMD_CHANNEL_FIRST = 471;
inline constexpr int CMD_ALL_CHANNELS = 491;
inline constexpr int CMD_VOICE_OUTPUT = 493;

// The display colours: 0..7 chosen in the menu (1300..1307), 9..15 the random ones. 8 shows as
// 9; values outside 0..15 show the default colour 4.
QColor displayColour(int colour);
// The `dispcolor` setting 8 (and above) means a new random colour 9..15 for every song.
inline constexpr int DISPLAY_COLOUR_RANDOM = 8;
inline bool isRandomColourSetting(int dispcolor) {
  return dispcolor >= DISPLAY_COLOUR_RANDOM;
}
// The text colour that goes with a display colour (readable on it).
QColor displayTextColour(int colour);

// Three text lines; files dropped on any of them reach the window (filesDropped).
class DisplayPanel : public QWidget {
  Q_OBJECT
 public:
  explicit DisplayPanel(QWidget* parent);
  void setLine(int line, const QString& text);  // 0 title/status, 1 and 2 the lines beside it
  QString line(int line) const;
  void setColour(int colour);  // dispcolor value (0..7, 9..15)
  // Shows the `dispcolor` setting: its colour, or for the random setting a new random colour
  // (called again for every song opened).
  void showColourSetting(int dispcolor);
  int colour() const { return colour_; }
  QColor faceColour() const;
 signals:
  void filesDropped(const QStringList& paths, bool ctrl);

 protected:
  void dragEnterEvent(QDragEnterEvent*) override;
  void dragMoveEvent(QDragMoveEvent*) override;
  void dropEvent(QDropEvent*) override;
  void paintEvent(QPaintEvent*) override;

 private:
  QLabel* lines_[3];
  int colour_ = 4;
};

// Buttons 1..16, "ALL" (491) and the voice-output button (493). A click sends
// command(id, modifiers) where modifiers holds Qt::ControlModifier / Qt::ShiftModifier.
// A click does not change what a button shows: only setSelection does.
class ChannelPanel : public QWidget {
  Q_OBJECT
 public:
  explicit ChannelPanel(QWidget* parent);
  // Labels "Ds ", "Dr " or "%d  ", enabled channels, checked (selected) channels.
  void setChannelLabel(int channel, const QString& label);  // channel 0..15
  void setChannelEnabled(int channel, bool enabled);
  void setSelection(uint16_t channelMask, bool voiceOutput);
  void setVoiceEnabled(bool enabled);
  QWidget* channelButton(int channel) const;  // for tests and key-forwarding checks
  QWidget* allButton() const;
  QWidget* voiceButton() const;
  // Button label of the voice-output button (default "声").
  void setVoiceLabel(const QString& label);
 signals:
  void command(int id, int modifiers);

 private:
  QToolButton* makeButton(int id, const QString& label);
  QToolButton* channels_[16] = {};
  QToolButton* all_ = nullptr;
  QToolButton* voice_ = nullptr;
};

// Per-channel activity while playing: one bar per channel, 0..127, decaying between updates.
// A bar jumps up to a new level at once and falls back smoothly on a timer of its own; a peak
// mark above each bar holds for a moment and then falls too.
class ChannelMonitor : public QWidget {
  Q_OBJECT
 public:
  explicit ChannelMonitor(QWidget* parent);
  void setLevels(const uint8_t levels[16]);
  void clear();
  int level(int channel) const;  // the level shown now
  int peak(int channel) const;
  // One step of the fall (the timer's tick, every DECAY_INTERVAL_MS).
  void decayStep();
  bool decaying() const;
  static constexpr int DECAY_INTERVAL_MS = 40;
  static constexpr int DECAY_PER_STEP = 6;  // 127 falls to 0 in about 0.85 s
  static constexpr int PEAK_HOLD_STEPS = 12;
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  int levels_[16] = {};
  int targets_[16] = {};
  int peaks_[16] = {};
  int peakHold_[16] = {};
  QTimer* timer_ = nullptr;
};

// Lyrics of the loaded song (UTF-8 lines with their times in sixteenth notes), the current one
// highlighted; with scrolling on, the view follows the play position.
class KaraokeView : public QWidget {
  Q_OBJECT
 public:
  explicit KaraokeView(QWidget* parent);
  struct Lyric {
    uint32_t position;  // sixteenth notes
    QString text;
  };
  // One entry per line; but when an entry holds a '\n' (the song's lyric table marks its line
  // starts so), the entries are taken as syllables (setSyllables).
  void setLyrics(const std::vector<Lyric>& lyrics);
  // Entries as the song's lyric table holds them: syllables, each '\n' starts a new line.
  // The sung syllables of the current line are then highlighted as the song goes on.
  void setSyllables(const std::vector<Lyric>& syllables);
  void setPosition(uint32_t position);  // sixteenth notes
  void setScrolling(bool on);
  int currentLine() const;  // -1 before the first line or without lyrics
  int lineCount() const { return static_cast<int>(lines_.size()); }
  QString lineText(int line) const;
  int firstVisibleLine() const { return top_; }
  int visibleLines() const;
  // Characters of the current line already sung (the whole line in line mode).
  int sungChars() const;
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void wheelEvent(QWheelEvent*) override;

 private:
  struct Segment {
    uint32_t position;
    QString text;
  };
  struct Line {
    uint32_t position;
    std::vector<Segment> segments;
    QString text;
  };
  int lineHeight() const;
  int sungSegments() const;
  void reset();
  void follow();
  std::vector<Line> lines_;
  uint32_t position_ = 0;
  int current_ = -1;
  int sung_ = 0;
  int top_ = 0;
  bool scrolling_ = true;
};

// The playlist: one row per entry (base name and extension), the current entry selected;
// double-click asks to open an entry; dropped files are appended (filesDropped with append).
class PlaylistPanel : public QWidget {
  Q_OBJECT
 public:
  explicit PlaylistPanel(QWidget* parent);
  void setEntries(const QStringList& paths, int current);
  int currentRow() const;
  QListWidget* list() const;
 signals:
  void entryActivated(int index);
  void filesDropped(const QStringList& paths);

 protected:
  void dragEnterEvent(QDragEnterEvent*) override;
  void dragMoveEvent(QDragMoveEvent*) override;
  void dropEvent(QDropEvent*) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void setCurrent(int current);
  QListWidget* list_ = nullptr;
  QStringList paths_;
};

}  // namespace vlm
