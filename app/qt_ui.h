// The conversion run's dialogs and boxes over Qt: the format and mail dialogs of the dialogs
// library, the save dialog "[ファイルを作成]", message boxes "警告", "お知らせ" and "ERROR", the
// desktop's default action for the mail file, and the window title.
//
// Every box goes through one replaceable function, so that tests record boxes instead of
// blocking, and with VLMPLAY_NO_MODAL=1 in the environment (screenshots, machines without a
// user) boxes are shown without waiting and answer OK.
#pragma once

#include <QString>
#include <functional>
#include <string>

#include "convert/conversion_run.h"
#include "platform/language.h"

class QTranslator;
class QWidget;

namespace vlm {

enum class BoxKind { Warning, Notice, Error, Question };

// Shows a box; returns true for OK (a box without Cancel always gives true).
using MessageBoxFn =
    std::function<bool(BoxKind kind, const QString& caption, const QString& text, bool withCancel)>;
void setMessageBoxHandler(MessageBoxFn handler);  // empty: the real boxes
bool showMessageBox(QWidget* parent, BoxKind kind, const QString& caption, const QString& text,
                    bool withCancel);
// True when boxes must not wait for the user (VLMPLAY_NO_MODAL=1).
bool noModalBoxes();

// File dialogs: `save` chooses a file to create (asking before overwriting), otherwise an
// existing one. Returns the chosen path, empty for Cancel.
using FileDialogFn = std::function<QString(bool save, const QString& title, const QString& start,
                                           const QString& filter)>;
void setFileDialogHandler(FileDialogFn handler);  // empty: QFileDialog
QString runFileDialog(QWidget* parent, bool save, const QString& title, const QString& start,
                      const QString& filter);

// Opens a document or URL with the desktop's handler; replaceable for tests.
using OpenUrlFn = std::function<bool(const QString& pathOrUrl)>;
void setOpenUrlHandler(OpenUrlFn handler);
bool openWithDesktop(const QString& pathOrUrl);

// Paths: local 8-bit file-system names to QString and back.
QString pathToQt(const char* path);
std::string pathFromQt(const QString& path);
// The folder of a path with its trailing '/', for LoadDir and SaveDir.
std::string folderOf(const std::string& path);

// Loads Qt's own translations (file dialogs, Yes/No) for the language; false when it has none.
bool installQtTranslations(const std::string& language);
// Loads the program's English texts (":/i18n/<name>_en.qm", compiled in) when the language
// wants them; returns the installed translator, null when the Japanese texts stay.
QTranslator* installAppTranslations(const std::string& language, const char* name = "vlmplay");

// Filters of the open dialog: all melody files first, then one per family.
QString openDialogFilter();

class QtUi : public ConversionUi {
 public:
  explicit QtUi(QWidget* window) : window_(window) {}
  bool formatDialog(int dialogId, FormatCode output) override;
  bool mailDialog() override;
  bool saveDialog(std::string& path, FormatCode output) override;
  bool warningBox(const char* text) override;
  void noticeBox(const char* text) override;
  void errorBox(const char* text) override;
  void openWithShell(const char* path) override;
  void setTitle(const char* title) override;
  std::string localText(const char* japanese) override;

 private:
  QWidget* window_;
  std::string lastError_;
};

}  // namespace vlm
