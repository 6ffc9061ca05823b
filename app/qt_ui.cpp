#include "app/qt_ui.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QTranslator>
#include <QUrl>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/dialogs/dialogs.h"
#include "convert/format_table.h"
#include "util/files.h"

namespace vlm {

namespace {

// A text of the window's boxes and file dialogs in the interface language (the main window's
// translation context).
QString windowText(const char* text) {
  return QCoreApplication::translate("vlm::MainWindow", text);
}

MessageBoxFn boxHandler;
FileDialogFn fileHandler;
OpenUrlFn urlHandler;

// The message texts end their lines with CR LF; Qt wants LF.
QString boxText(const char* text) {
  QString s = QString::fromUtf8(text);
  s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  return s;
}

// A device's error text in the interface's language. Some carry a detail after the text's last
// full stop (the SoundFont's path, an error number), which stays as it is.
QString deviceErrorText(const char* text) {
  const QString original = boxText(text);
  const qsizetype end = original.lastIndexOf(QChar(u'。')) + 1;
  if (end <= 0) return windowText(original.toUtf8().constData());
  const QString message = original.left(end), detail = original.mid(end).trimmed();
  const QString translated = windowText(message.toUtf8().constData());
  if (translated == message) return original;
  return detail.isEmpty() ? translated : translated + QLatin1Char(' ') + detail;
}

}  // namespace

void setMessageBoxHandler(MessageBoxFn handler) {
  boxHandler = std::move(handler);
}

bool noModalBoxes() {
  const char* v = std::getenv("VLMPLAY_NO_MODAL");
  return v && std::strcmp(v, "1") == 0;
}

bool showMessageBox(QWidget* parent, BoxKind kind, const QString& caption, const QString& text,
                    bool withCancel) {
  if (boxHandler) return boxHandler(kind, caption, text, withCancel);
  QMessageBox::Icon icon = QMessageBox::Information;
  if (kind == BoxKind::Warning || kind == BoxKind::Error) icon = QMessageBox::Warning;
  if (kind == BoxKind::Question) icon = QMessageBox::Question;
  QMessageBox::StandardButtons buttons =
      withCancel ? (QMessageBox::Ok | QMessageBox::Cancel) : QMessageBox::Ok;
  if (noModalBoxes()) {
    // Shown beside the window and answered OK at once: nothing may wait for a user here.
    std::fprintf(stderr, "vlmplay: [%s] %s\n", caption.toUtf8().constData(),
                 text.toUtf8().constData());
    auto* box = new QMessageBox(icon, caption, text, buttons, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
    return true;
  }
  QMessageBox box(icon, caption, text, buttons, parent);
  return box.exec() == QMessageBox::Ok;
}

void setFileDialogHandler(FileDialogFn handler) {
  fileHandler = std::move(handler);
}

QString runFileDialog(QWidget* parent, bool save, const QString& title, const QString& start,
                      const QString& filter) {
  if (fileHandler) return fileHandler(save, title, start, filter);
  if (noModalBoxes()) return QString();
  if (save) return QFileDialog::getSaveFileName(parent, title, start, filter);
  return QFileDialog::getOpenFileName(parent, title, start, filter);
}

void setOpenUrlHandler(OpenUrlFn handler) {
  urlHandler = std::move(handler);
}

namespace {

// True when the desktop has a program for a local file of this MIME type (xdg-mime names one).
bool desktopHasViewer(const QString& path) {
  if (QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty()) return false;
  const QString type = QMimeDatabase().mimeTypeForFile(path).name();
  QProcess query;
  query.start(QStringLiteral("xdg-mime"),
              {QStringLiteral("query"), QStringLiteral("default"), type});
  if (!query.waitForFinished(2000)) return false;
  return !query.readAllStandardOutput().trimmed().isEmpty();
}

}  // namespace

bool openWithDesktop(const QString& pathOrUrl) {
  if (urlHandler) return urlHandler(pathOrUrl);
  if (!pathOrUrl.contains(QLatin1String("://")) && !desktopHasViewer(pathOrUrl)) return false;
  QUrl url =
      pathOrUrl.contains(QLatin1String("://")) ? QUrl(pathOrUrl) : QUrl::fromLocalFile(pathOrUrl);
  return QDesktopServices::openUrl(url);
}

QString pathToQt(const char* path) {
  return QFile::decodeName(path ? path : "");
}

std::string pathFromQt(const QString& path) {
  return QFile::encodeName(path).toStdString();
}

std::string folderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  return path.substr(0, slash + 1);
}

bool installQtTranslations(const std::string& language) {
  if (language.empty()) return false;
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (!translator->load(QStringLiteral("qtbase_") + QString::fromStdString(language),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  QCoreApplication::installTranslator(translator);
  return true;
}

QTranslator* installAppTranslations(const std::string& language, const char* name) {
  if (!wantsEnglishTexts(language)) return nullptr;
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (!translator->load(QStringLiteral(":/i18n/%1_en.qm").arg(QLatin1String(name)))) {
    delete translator;
    return nullptr;
  }
  QCoreApplication::installTranslator(translator);
  return translator;
}

QString openDialogFilter() {
  // One row per open group of the input formats, in the table's order, with the extensions of
  // every format in it; extensions that a format claims only by its first bytes belong to the
  // format that owns them. Every extension also goes into the first row.
  QStringList groups, all;
  std::vector<QStringList> patterns;
  int count = 0;
  const InputFormat* formats = inputFormats(&count);
  for (int i = 0; i < count; ++i) {
    QStringList own;
    for (const QString& ext : QString::fromLatin1(formats[i].extensions).split(QLatin1Char(' ')))
      if (!ext.endsWith(QLatin1Char('?'))) own << QLatin1Char('*') + ext;
    all << own;
    if (!formats[i].openGroup) continue;
    const QString group = windowText(formats[i].openGroup);
    qsizetype at = groups.indexOf(group);
    if (at < 0) {
      groups << group;
      patterns.emplace_back();
      at = groups.size() - 1;
    }
    patterns[size_t(at)] << own;
  }
  groups << windowText("ﾌﾟﾚｲﾘｽﾄﾌｧｲﾙ");
  patterns.push_back({QStringLiteral("*.m3u")});
  all << QStringLiteral("*.m3u");
  QStringList rows{windowText("全てのﾒﾛﾃﾞｨﾌｧｲﾙ") + QStringLiteral(" (") +
                   all.join(QLatin1Char(' ')) + QLatin1Char(')')};
  for (size_t g = 0; g < patterns.size(); ++g) {
    QStringList& p = patterns[g];
    p.removeDuplicates();
    rows << groups[qsizetype(g)] + QLatin1Char('(') + p.join(QLatin1Char(';')) +
                QStringLiteral(") (") + p.join(QLatin1Char(' ')) + QLatin1Char(')');
  }
  return rows.join(QStringLiteral(";;"));
}

bool QtUi::formatDialog(int dialogId, FormatCode output) {
  if (dialogId <= 0) return true;
  // Unattended, or where nobody may be asked, the dialog confirms itself at once.
  const bool atOnce = (runState.AutoConvertFlags & AUTO_UNATTENDED) || noModalBoxes();
  return dialogs::runFileSettingsDialog(dialogId, output, window_, atOnce) == dialogs::DLG_OK;
}

bool QtUi::mailDialog() {
  if (noModalBoxes()) return true;
  return dialogs::runMailDialog(window_) == dialogs::DLG_OK;
}

bool QtUi::saveDialog(std::string& path, FormatCode) {
  PathParts parts;
  splitPath(path.c_str(), &parts);
  std::string start = options.SaveDir.empty() ? parts.directory : options.SaveDir;
  start += parts.name;
  start += parts.extension;
  QString chosen = runFileDialog(window_, true, windowText("[ファイルを作成]"),
                                 pathToQt(start.c_str()), windowText("すべてのﾌｧｲﾙ (*)"));
  if (chosen.isEmpty()) return false;
  std::string target = pathFromQt(chosen);
  if (target.size() > MAX_PATH_BYTES) {
    showMessageBox(window_, BoxKind::Warning, windowText("警告"), windowText("パスが長すぎます。"),
                   false);
    return false;
  }
  path = target;
  options.SaveDir = folderOf(target);
  return true;
}

bool QtUi::warningBox(const char* text) {
  return showMessageBox(window_, BoxKind::Warning, windowText("警告"), boxText(text), true);
}

void QtUi::noticeBox(const char* text) {
  showMessageBox(window_, BoxKind::Notice, windowText("お知らせ"), boxText(text), false);
}

void QtUi::errorBox(const char* text) {
  // A device that cannot open fails the same way at every play: the box shows once.
  if (lastError_ == text) {
    std::fprintf(stderr, "vlmplay: ERROR: %s\n", text);
    return;
  }
  lastError_ = text;
  showMessageBox(window_, BoxKind::Error, QStringLiteral("ERROR"), deviceErrorText(text), false);
}

void QtUi::openWithShell(const char* path) {
  openWithDesktop(pathToQt(path));
}

void QtUi::setTitle(const char* title) {
  if (window_) window_->setWindowTitle(pathToQt(title));
}

// Each line is translated on its own, without its CR LF: a .ts file cannot keep a CR.
std::string QtUi::localText(const char* japanese) {
  const QStringList lines = QString::fromUtf8(japanese).split(QStringLiteral("\r\n"));
  QStringList translated;
  for (const QString& line : lines)
    translated << (line.isEmpty() ? line : windowText(line.toUtf8().constData()));
  return translated.join(QStringLiteral("\r\n")).toStdString();
}

}  // namespace vlm
