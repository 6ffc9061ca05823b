// Dialog templates as tables and the one builder that turns a table into widgets. A table row
// names a control by its id, its kind, its label, where it sits in the grid, the range and step
// rule of its value and the option it edits (a getter and a setter over the globals). The table
// dialog copies the options into the controls when it opens, clamps typed values when a field
// is left and on OK, and writes the options back only on OK (or "適用"); Cancel writes nothing.
#pragma once

#include <QDialog>
#include <QHash>
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

class QButtonGroup;
class QGridLayout;
class QLabel;
class QLineEdit;
class QScrollBar;

namespace vlm::dialogs {

enum class Kind : uint8_t {
  Edit,     // numeric edit, with its scroll bar (id + 100) when the step rule is not None
  Text,     // text edit of a Shift-JIS field
  Check,    // check box
  Radio,    // radio button: checked when the option equals `value`
  Combo,    // editable combo box of texts
  List,     // list box
  Static,   // label whose text the procedure may set
  Report,   // multi-line read-only text
  Button,   // push button; its click goes to the procedure's command()
  HBar,     // horizontal scroll bar holding the value itself (`min`..`max`)
  Caption,  // plain label without an id
};

enum class Step : uint8_t {
  None,      // no scroll bar
  Linear,    // +-step, +-ctrlStep with Ctrl held
  Doubling,  // the bar doubles below `stepCtrl` and halves above `stepSmall`
  Ladder,    // the bar moves along `ladder`; typed values rise to the next entry
};

using IntGetter = int (*)();
using IntSetter = void (*)(int);
using TextGetter = std::string (*)();  // Shift-JIS bytes
using TextSetter = void (*)(const std::string&);

struct Control {
  int id = 0;
  Kind kind = Kind::Caption;
  const char* label = "";  // UTF-8; edits show it to their left
  int row = 0, col = 0, span = 1, rowSpan = 1;
  int pane = 0;          // 0: the top grid; 1, 2...: grids side by side below it, each its own rows
  int min = 0, max = 0;  // edits and bars: the range; radios: `max` is the value, `min` the group
  Step step = Step::None;
  int stepSmall = 1, stepCtrl = 1;
  const uint16_t* ladder = nullptr;  // Step::Ladder: ascending values ending in 0
  IntGetter get = nullptr;
  IntSetter set = nullptr;
  TextGetter getText = nullptr;
  TextSetter setText = nullptr;
  int maxBytes = 255;      // Kind::Text: field size in Shift-JIS bytes
  bool emptyNone = false;  // Kind::Edit: an empty field stands for -1 ("none")
  int width = 0;           // edits: width in characters (0: from the range)
};

// Short constructors for table rows.
Control edit(int id, const char* label, int row, int col, int min, int max, Step step,
             int stepSmall, int stepCtrl, IntGetter get, IntSetter set);
Control text(int id, const char* label, int row, int col, int span, int maxBytes, TextGetter get,
             TextSetter set);
Control check(int id, const char* label, int row, int col, IntGetter get, IntSetter set,
              int span = 1);
Control radio(int id, const char* label, int row, int col, int group, int value, IntGetter get,
              IntSetter set);
Control button(int id, const char* label, int row, int col, int span = 1);
Control staticText(int id, const char* label, int row, int col, int span = 1);
Control caption(const char* label, int row, int col, int span = 1);

// A text of a dialog as the interface language shows it: the English translation (context
// "Dialog") when one is loaded, otherwise the Japanese UTF-8 text itself.
QString dialogText(const char* text);
// True when the dialogs show the English texts (the voice names follow them).
bool englishDialogTexts();

// Shift-JIS helpers of the widget boundary.
// Cuts `bytes` to at most `maxBytes` without splitting a double-byte character.
std::string cutSjis(const std::string& bytes, size_t maxBytes);
QString fromSjis(const std::string& bytes);
std::string toSjis(const QString& text, size_t maxBytes);

// Clamps a typed value by the row's rule (range; ladder values rise to the next entry).
int clampValue(const Control& c, int value);
// One bar step up (direction +1) or down (-1), Ctrl for the larger step.
int stepValue(const Control& c, int value, int direction, bool ctrl);

class TableDialog : public QDialog {
  Q_OBJECT

 public:
  TableDialog(int resource, const char* caption, std::vector<Control> table, QWidget* parent);
  int resource() const { return resource_; }

  // Builds the widgets (once) and copies the options in; then init().
  void load();
  // Clamps every edit, writes every bound row back, then store().
  void writeBack();

  // Access by control id; null or defaults for ids the template has not.
  QWidget* control(int id) const { return widgets_.value(id, nullptr); }
  const Control* row(int id) const;
  int value(int id) const;  // clamped value of an edit or bar; -1 for an empty "none" edit
  void setValue(int id, int v);
  bool checked(int id) const;
  void setChecked(int id, bool on);
  QString textOf(int id) const;
  void setTextOf(int id, const QString& text);
  void setLabel(int id, const QString& label);
  void enable(int id, bool on);
  bool isEnabledId(int id) const;
  // One bar step of an edit, as a click on its scroll bar.
  void stepControl(int id, int direction, bool ctrl);
  // A click on a button or check box, as the user's.
  void click(int id);

  // Gives the OK result (writes back first).
  void acceptWithWrite();

 protected:
  // What the table cannot say: start values, enabling, computed statics.
  virtual void init() {}
  // Extra write-back after the bound rows.
  virtual void store() {}
  // A button, check box or radio was clicked, or an edit value changed (after clamping).
  virtual void command(int /*id*/) {}
  virtual void valueChanged(int /*id*/) {}

  QGridLayout* grid() const { return grid_; }
  void done(int r) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void build();
  QWidget* makeCell(const Control& c);
  void finishEdit(int id);

  int resource_;
  std::vector<Control> table_;
  QHash<int, QWidget*> widgets_;
  QHash<int, QLabel*> labels_;
  QHash<QLabel*, int> cellLabels_;  // leading labels of edit cells -> pane * 100 + column
  QHash<int, QButtonGroup*> groups_;
  QGridLayout* grid_ = nullptr;
  QHash<int, QGridLayout*> panes_;
  bool built_ = false;
  bool loading_ = false;
};

// Command 56 through the main window's sink (re-prepare playback).
void sendCommand(int id, int param);

}  // namespace vlm::dialogs
