// The one dialog of the setup tool, "VlmPlayer SETUP": association check boxes, the playlist
// capacity, the graphic-button switch and three visible rows of the eight external-application
// slots. OK and 適用 write everything and ask the running players to reload.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <array>
#include <string>

#include "setup/associations.h"
#include "setup/setup_settings.h"

class QCheckBox;
class QLabel;
class QScrollBar;
class QPushButton;
class QTranslator;

namespace vlm {

// Control ids of the dialog; each widget's objectName is its id in decimal.
inline constexpr int ID_OK = 1;
inline constexpr int ID_CANCEL = 2;
inline constexpr int ID_FILES = 101;
inline constexpr int ID_FIRST_PATH = 102;  // 102 + 2i, names 103 + 2i
inline constexpr int ID_SCROLL = 151;
inline constexpr int ID_APPLY = 201;
inline constexpr int ID_EDIT_INI = 202;
inline constexpr int ID_FILEBUTTON = 311;
inline constexpr int ID_FIRST_FILE_LABEL = 401;  // 401 + 2i, name labels 402 + 2i

// Loads the setup tool's English texts (":/i18n/setting_en.qm", compiled in) when the language
// wants them (wantsEnglishTexts); returns the installed translator, null when the Japanese
// texts stay.
QTranslator* installSetupTranslations(const std::string& language);

// A path edit that takes a dropped file: the first local file of the drop goes in.
class PathEdit : public QLineEdit {
  Q_OBJECT
 public:
  using QLineEdit::QLineEdit;
 signals:
  void fileDropped(const QString& path);

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
};

class SetupDialog : public QDialog {
  Q_OBJECT
 public:
  // `programDir` is the folder of vlmplay and of bmp/ (the tool's own folder when run).
  SetupDialog(const QString& programDir, ProgramRunner runner, QWidget* parent = nullptr);

  QWidget* control(int id) const;
  int slotOffset() const { return offset_; }
  const SetupSettings& settings() const { return settings_; }
  QString statusText() const;
  bool playerFound() const { return playerFound_; }

  // OK and 適用: writes the settings and the associations, asks the players to reload. False
  // when something went wrong (the status text says what).
  bool applyChanges();
  // Stores a dropped file into the slot of visible row `row` (0..2) and shows it.
  void dropFile(int row, const QString& path);
  void editSettingsFile();

 private:
  void storeVisibleRows();
  void showRows();
  void scrollTo(int offset);
  void setStatus(const QString& text);

  QString programDir_;
  ProgramRunner runner_;
  SetupSettings settings_;
  bool playerFound_ = false;
  int offset_ = 0;
  std::array<QCheckBox*, MAX_ASSOCIATION_ROWS> associations_{};
  QLineEdit* files_ = nullptr;
  QCheckBox* filebutton_ = nullptr;
  std::array<QLabel*, VISIBLE_APP_ROWS> fileLabels_{};
  std::array<QLabel*, VISIBLE_APP_ROWS> nameLabels_{};
  std::array<PathEdit*, VISIBLE_APP_ROWS> paths_{};
  std::array<QLineEdit*, VISIBLE_APP_ROWS> names_{};
  QScrollBar* scroll_ = nullptr;
  QLabel* status_ = nullptr;
};

}  // namespace vlm
