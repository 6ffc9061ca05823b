// The panels of the main window: the display with its three lines, the channel selection panel,
// the channel monitor, the karaoke display and the playlist panel. Each panel only shows what it
// is given and turns the user's clicks into command ids for the main window's onCommand; none of
// them holds player state.
#pragma once

#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <vector>

class QLabel;
class QListWidget;

namespace vlm {

// Channel button command ids: 471..486 for channels 1..16, all on, voice output.
inline constexpr int CMD_CHANNEL_FIRST = 471;
inline constexpr int CMD_ALL_CHANNELS = 491;
inline constexpr int CMD_VOICE_OUTPUT = 493;

// The display colours: 0..7 chosen in the menu (1300..1307), 9..15 the random ones.
QColor displayColour(int colour);

// Three text lines; files dropped on any of them reach the window (filesDropped).
class DisplayPanel : public QWidget {
  Q_OBJECT
 public:
  explicit DisplayPanel(QWidget* parent);
  void setLine(int line, const QString& text);  // 0 title/status, 1 and 2 the lines beside it
  QString line(int line) const;
  void setColour(int colour);  // dispcolor value (0..7, 9..15)
 signals:
  void filesDropped(const QStringList& paths, bool ctrl);
 protected:
  void dragEnterEvent(QDragEnterEvent*) override;
  void dropEvent(QDropEvent*) override;
 private:
  QLabel* lines_[3];
};

// Buttons 1..16, "ALL" (491) and the voice-output button (493). A click sends
// command(id, modifiers) where modifiers holds Qt::ControlModifier / Qt::ShiftModifier.
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
 signals:
  void command(int id, int modifiers);
};

// Per-channel activity while playing: one bar per channel, 0..127, decaying between updates.
class ChannelMonitor : public QWidget {
  Q_OBJECT
 public:
  explicit ChannelMonitor(QWidget* parent);
  void setLevels(const uint8_t levels[16]);
  void clear();
  int level(int channel) const;
 protected:
  void paintEvent(QPaintEvent*) override;
 private:
  int levels_[16] = {};
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
  void setLyrics(const std::vector<Lyric>& lyrics);
  void setPosition(uint32_t position);  // sixteenth notes
  void setScrolling(bool on);
  int currentLine() const;
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
};

}  // namespace vlm
