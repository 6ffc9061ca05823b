// The player's tool buttons: a push button that paints a bitmap inside a drawn 3-D frame, tells
// its owner when the left button goes down (for the auto-repeat of the adjustment buttons), when
// it is released (the command, wherever the cursor is) and when the right button goes down, and
// shows its tooltip after the mouse rests 500 ms on it while the main window is active.
#pragma once

#include <QImage>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <cstdint>

class QLabel;

namespace vlm {

// Flags given at creation.
inline constexpr uint16_t GB_NO_CENTRE = 0x01;   // image at the fixed margin (2, pressed 4)
inline constexpr uint16_t GB_STRETCH = 0x02;     // whole bitmap squeezed into the client less 4
inline constexpr uint16_t GB_FIXED_GREY = 0x08;  // grey frame colours instead of the system's
inline constexpr uint16_t GB_FROM_FILE = 0x10;   // the name is a .bmp path, not a resource name
inline constexpr uint16_t GB_PALETTE = 0x20;     // colours from the bitmap's colour table

inline constexpr int GB_TOOLTIP_CHARS = 24;
inline constexpr int GB_TOOLTIP_DELAY_MS = 500;

// Where the image goes inside a w x h client: the margins, the drawn size and the part of the
// bitmap shown (its top part when the button is too small). Pure, so the tests check it.
struct ButtonGeometry {
  int left = 0, top = 0;
  int drawnWidth = 0, drawnHeight = 0;
  int sourceWidth = 0, sourceHeight = 0;
};
ButtonGeometry buttonGeometry(int w, int h, int displayWidth, int displayHeight, int bitmapWidth,
                              int bitmapHeight, uint16_t flags, bool pressed);

// Bitmaps of the buttons by resource name ("BITMAP_PLAY", ...): compiled in, or, when button
// files are enabled, NAME.bmp from the first folder that has it: bmp/ beside the program, then
// $XDG_DATA_HOME/vlmplay/bmp/. Switching it reloads the pictures of the buttons that exist.
void setButtonFilesEnabled(bool enabled);
bool buttonFilesEnabled();
QImage loadButtonBitmap(const QString& resourceName);
// The folders searched for NAME.bmp, in order.
QStringList buttonBitmapFolders();
// Decodes one .bmp file; a null image for a missing or damaged file or one larger than
// GB_MAX_BITMAP_SIDE on either side (so a damaged header cannot make us allocate without bound).
inline constexpr int GB_MAX_BITMAP_SIDE = 1024;
QImage readButtonBitmapFile(const QString& path);

class GraphicButton : public QWidget {
  Q_OBJECT
 public:
  GraphicButton(int id, const QString& bitmapName, uint16_t flags, QWidget* parent);
  ~GraphicButton() override;
  int id() const { return id_; }
  // Display size: in percent of the bitmap size, or in pixels.
  void setDisplaySize(bool percent, int width, int height);
  // Replaces the bitmap (sourceFlag GB_FROM_FILE for a file path, 0 for a resource name); the
  // display size becomes the bitmap size.
  void setBitmap(uint16_t sourceFlag, const QString& nameOrPath);
  // At most 24 characters are kept.
  void setTooltipText(const QString& text);
  QString tooltipText() const { return tooltip_; }
  QSize sizeHint() const override;
  bool isDown() const { return down_; }
  // Drawn pressed while latched (the play button while a song plays).
  void setLatched(bool on);
  bool isLatched() const { return latched_; }
  QSize displaySize() const { return QSize(displayWidth_, displayHeight_); }
  const QImage& bitmap() const { return bitmap_; }
  uint16_t flags() const { return flags_; }
  // The resource name or file path the bitmap was loaded from.
  QString bitmapSource() const { return source_; }
  // The tooltip window while it is shown, else null.
  QWidget* tooltipWindow() const;

 signals:
  void pressed(int id);       // left button went down on it
  void command(int id);       // left button released, wherever the cursor is
  void rightPressed(int id);  // right button went down on it

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void leaveEvent(QEvent*) override;
  void timerEvent(QTimerEvent*) override;
  void changeEvent(QEvent*) override;
  void hideEvent(QHideEvent*) override;

 private:
  void showTooltip();
  void hideTooltip();
  int id_;
  uint16_t flags_;
  QImage bitmap_;
  QString source_;
  int displayWidth_ = 0, displayHeight_ = 0;
  QString tooltip_;
  bool down_ = false;
  bool latched_ = false;
  int tooltipTimer_ = 0;
  QPoint lastPos_{-1, -1};  // no position seen yet
  QImage greyed_;           // the bitmap as drawn while disabled, made when first needed
  QLabel* tip_ = nullptr;
};

// Compiled-in resources (bitmaps); call once before the first button is made.
void initAppResources();

}  // namespace vlm
