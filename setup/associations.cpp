#include "setup/associations.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QSaveFile>
#include <QXmlStreamWriter>
#include <cstdlib>

#include "convert/format_table.h"
#include "util/files.h"
#include "util/paths.h"

namespace vlm {

namespace {

// A message of the setup tool in the interface language (the dialog's translation context).
QString setupText(const char* text) {
  return QCoreApplication::translate("vlm::SetupDialog", text);
}

constexpr const char* MIME_NAMESPACE = "http://www.freedesktop.org/standards/shared-mime-info";
constexpr const char* MIME_PREFIX = "audio/x-vlmplay-";
// Above the default 50 of the system's own types, so that a checked row decides the type of
// its extensions even where another format uses the same one (.mid, .mmf, .mml, .pmd, .smd).
constexpr const char* GLOB_WEIGHT = "60";
// High enough that detectors which look at the high-priority marks before any name (as
// File::MimeInfo does) find our type for a file that carries its format's mark.
constexpr const char* MAGIC_PRIORITY = "80";
constexpr int ICON_SIZE = 48;
constexpr int HELPER_TIMEOUT_MS = 30000;

// The check boxes: one per file type of the input rows, taking the extensions every row of the
// type associates.
std::vector<AssociationRow> makeRows() {
  std::vector<AssociationRow> rows;
  int count = 0;
  const InputFormat* formats = inputFormats(&count);
  for (const FileType* type : fileTypes()) {
    AssociationRow row{type->checkBox, type->label,          {},
                       type->comment,  type->englishComment, type->alias,
                       type->magic,    type->parentType,     type->sharedType};
    for (int i = 0; i < count; ++i) {
      if (formats[i].fileType != type || !formats[i].associated) continue;
      for (const QString& ext : QString::fromLatin1(formats[i].associated).split(' '))
        if (ext.startsWith('.')) row.extensions << ext.mid(1);
    }
    rows.push_back(row);
  }
  return rows;
}

int rowCount() {
  return int(associationRows().size());
}

const AssociationRow& rowAt(int i) {
  return associationRows()[size_t(i)];
}

// The type's comment in English (the Japanese one goes under xml:lang "ja"); a type without an
// English name keeps its own.
QString englishTypeName(const AssociationRow& row) {
  return QString::fromUtf8(row.englishName ? row.englishName : row.displayName);
}

bool anyChecked(const AssociationSet& rows) {
  for (bool b : rows)
    if (b) return true;
  return false;
}

// Atomic write (temp file and rename) of a whole small file, creating its folder.
bool writeWhole(const QString& path, const QByteArray& data) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  return saveFile(QFile::encodeName(path).constData(), data.constData(), size_t(data.size())) != 0;
}

void runHelper(const ProgramRunner& run, const QString& program, const QStringList& args,
               QStringList* problems) {
  const ProgramResult r = run(program, args);
  if (!r.started) {
    problems->append(setupText("%1 を起動できません (%2)").arg(program, r.errorText));
  } else if (r.exitCode != 0) {
    QString line = setupText("%1 が失敗しました (終了コード %2)").arg(program).arg(r.exitCode);
    if (!r.errorText.isEmpty()) line += QStringLiteral(": ") + r.errorText;
    problems->append(line);
  }
}

// bmp/NAME.ico or bmp/NAME.png beside the program (a build tree) or in the install's
// share/vlmplay; empty when neither exists.
QString iconSource(const QString& programDir, const QString& name) {
  const std::string dir = QFile::encodeName(programDir + '/').toStdString();
  for (const char* suffix : {".ico", ".png"}) {
    const std::string path = findReadOnlyIn(dir, "bmp/" + name.toStdString() + suffix);
    if (!path.empty()) return QFile::decodeName(path.c_str());
  }
  return {};
}

// Converts the icon to a 48-pixel PNG (icon themes do not read .ico) and saves it atomically.
bool installIcon(const QString& source, const QString& target) {
  QImage image(source);
  if (image.isNull()) return false;
  if (image.width() != ICON_SIZE || image.height() != ICON_SIZE)
    image = image.scaled(ICON_SIZE, ICON_SIZE, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  QDir().mkpath(QFileInfo(target).absolutePath());
  QSaveFile out(target);
  if (!out.open(QIODevice::WriteOnly)) return false;
  if (!image.save(&out, "PNG")) {
    out.cancelWriting();
    return false;
  }
  return out.commit();
}

// The types a checked row makes vlmplay open: its own and the well-known type of the same
// format. Not every type detector honours the glob weights of the user's package (the
// File::MimeInfo one that xdg-mime uses outside a desktop session lets the system's *.mid and
// *.mmf win), so the files open in vlmplay either way.
QStringList handledTypes(const AssociationRow& row, bool checked) {
  QStringList types;
  if (!checked) return types;
  types << associationMimeType(row);
  if (row.sharedType) types << QString::fromLatin1(row.sharedType);
  return types;
}

QString iconFolder(const QString& kind) {
  return xdgDataHome() + "/icons/hicolor/" + QString::number(ICON_SIZE) + "x" +
         QString::number(ICON_SIZE) + "/" + kind;
}

}  // namespace

const std::vector<AssociationRow>& associationRows() {
  static const std::vector<AssociationRow> rows = makeRows();
  return rows;
}

int associationIndex(int id) {
  for (int i = 0; i < rowCount(); ++i)
    if (rowAt(i).id == id) return i;
  return -1;
}

QString associationMimeType(const AssociationRow& row) {
  return QString::fromLatin1(MIME_PREFIX) + row.extensions.value(0);
}

QString associationIconName(const AssociationRow& row) {
  return associationMimeType(row).replace('/', '-');
}

QString xdgDataHome() {
  const char* env = std::getenv("XDG_DATA_HOME");
  if (env && env[0] == '/') {  // a relative value is ignored, as the XDG rules say
    QString dir = QFile::decodeName(env);
    while (dir.size() > 1 && dir.endsWith('/')) dir.chop(1);
    return dir;
  }
  return QDir::homePath() + "/.local/share";
}

QByteArray mimePackageXml(const AssociationSet& rows, MimeScope scope) {
  QByteArray out;
  QXmlStreamWriter w(&out);
  w.setAutoFormatting(true);
  w.setAutoFormattingIndent(2);
  w.writeStartDocument();
  w.writeDefaultNamespace(MIME_NAMESPACE);
  w.writeStartElement(MIME_NAMESPACE, "mime-info");
  for (int i = 0; i < rowCount(); ++i) {
    if (!rows[size_t(i)]) continue;
    const AssociationRow& row = rowAt(i);
    w.writeStartElement(MIME_NAMESPACE, "mime-type");
    w.writeAttribute("type", associationMimeType(row));
    w.writeTextElement(MIME_NAMESPACE, "comment", englishTypeName(row));
    w.writeStartElement(MIME_NAMESPACE, "comment");
    w.writeAttribute("xml:lang", "ja");
    w.writeCharacters(QString::fromUtf8(row.displayName));
    w.writeEndElement();
    if (row.parentType) {
      w.writeEmptyElement(MIME_NAMESPACE, "sub-class-of");
      w.writeAttribute("type", row.parentType);
    }
    if (row.contentType) {
      w.writeEmptyElement(MIME_NAMESPACE, "alias");
      w.writeAttribute("type", row.contentType);
    }
    w.writeEmptyElement(MIME_NAMESPACE, "generic-icon");
    w.writeAttribute("name", "audio-x-generic");
    for (const QString& ext : row.extensions) {
      w.writeEmptyElement(MIME_NAMESPACE, "glob");
      w.writeAttribute("pattern", QStringLiteral("*.") + ext);
      if (scope == MimeScope::User) w.writeAttribute("weight", GLOB_WEIGHT);
    }
    if (row.magic) {
      w.writeStartElement(MIME_NAMESPACE, "magic");
      w.writeAttribute("priority", MAGIC_PRIORITY);
      w.writeEmptyElement(MIME_NAMESPACE, "match");
      w.writeAttribute("type", "string");
      w.writeAttribute("offset", "0");
      w.writeAttribute("value", row.magic);
      w.writeEndElement();
    }
    w.writeEndElement();
  }
  w.writeEndElement();
  w.writeEndDocument();
  return out;
}

QString quoteExecArgument(const QString& argument) {
  static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
  bool needsQuotes = argument.isEmpty();
  for (QChar c : argument)
    if (reserved.contains(c)) needsQuotes = true;
  QString arg;
  if (needsQuotes) {
    arg = QStringLiteral("\"");
    for (QChar c : argument) {
      if (c == '"' || c == '`' || c == '$' || c == '\\') arg += '\\';
      arg += c;
    }
    arg += '"';
  } else {
    arg = argument;
  }
  // The value escapes of the file come on top of the quoting; '%' would start a field code.
  QString value;
  for (QChar c : arg) {
    if (c == '\\')
      value += QStringLiteral("\\\\");
    else if (c == '\n')
      value += QStringLiteral("\\n");
    else if (c == '\t')
      value += QStringLiteral("\\t");
    else if (c == '\r')
      value += QStringLiteral("\\r");
    else if (c == '%')
      value += QStringLiteral("%%");
    else
      value += c;
  }
  return value;
}

QByteArray desktopEntry(const QString& playerPath, const AssociationSet& rows,
                        const QString& iconName) {
  QString text = QStringLiteral(
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Version=1.0\n"
      "Name=VlmPlayer\n"
      "GenericName=Ringtone Player\n"
      "GenericName[ja]=着信メロディプレーヤー\n"
      "Comment=Plays and converts mobile phone ringtones\n"
      "Comment[ja]=携帯電話の着信メロディを再生・変換します\n"
      "Keywords=ringtone;melody;mld;mmf;pmd;midi;\n"
      "Keywords[ja]=着信メロディ;着メロ;メロディ;\n");
  text += QStringLiteral("Exec=") + quoteExecArgument(playerPath) + QStringLiteral(" %F\n");
  if (!iconName.isEmpty()) text += QStringLiteral("Icon=") + iconName + '\n';
  text += QStringLiteral("Terminal=false\nCategories=AudioVideo;Audio;Player;\n");
  const QStringList types = handledMimeTypes(rows);
  if (!types.isEmpty())
    text += QStringLiteral("MimeType=") + types.join(';') + QStringLiteral(";\n");
  return text.toUtf8();
}

QStringList handledMimeTypes(const AssociationSet& rows) {
  QStringList types;
  for (int i = 0; i < rowCount(); ++i) types += handledTypes(rowAt(i), rows[size_t(i)]);
  return types;
}

AssociationSet rowsOfDesktopEntry(const QByteArray& entry) {
  AssociationSet rows{};
  bool inMainGroup = false;
  for (const QByteArray& raw : entry.split('\n')) {
    const QByteArray line = raw.trimmed();
    if (line.startsWith('[')) {
      inMainGroup = line == "[Desktop Entry]";
      continue;
    }
    if (!inMainGroup) continue;
    const int eq = line.indexOf('=');
    if (eq < 0 || line.left(eq).trimmed() != "MimeType") continue;
    const QList<QByteArray> types = line.mid(eq + 1).trimmed().split(';');
    for (int i = 0; i < rowCount(); ++i)
      rows[size_t(i)] = types.contains(associationMimeType(rowAt(i)).toLatin1());
  }
  return rows;
}

AssociationSet registeredAssociations() {
  QFile f(xdgDataHome() + "/applications/" + DESKTOP_ENTRY_NAME);
  if (!f.open(QIODevice::ReadOnly)) return AssociationSet{};
  return rowsOfDesktopEntry(f.read(1 << 20));
}

ProgramRunner processRunner() {
  return [](const QString& program, const QStringList& args) {
    ProgramResult result;
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.start(program, args);
    if (!p.waitForStarted(HELPER_TIMEOUT_MS)) {
      result.errorText = p.errorString();
      return result;
    }
    result.started = true;
    if (!p.waitForFinished(HELPER_TIMEOUT_MS)) {
      p.kill();
      p.waitForFinished(1000);
      result.errorText = setupText("時間切れ");
      return result;
    }
    result.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    result.errorText =
        QString::fromLocal8Bit(p.readAllStandardError()).trimmed().section('\n', 0, 0);
    return result;
  };
}

QStringList applyAssociations(const AssociationSet& rows, const QString& programDir,
                              const ProgramRunner& run) {
  QStringList problems;
  const QString data = xdgDataHome();
  const QString mimeDir = data + "/mime";
  const QString packagePath = mimeDir + "/packages/" + MIME_PACKAGE_NAME;
  const QString appsDir = data + "/applications";

  // The package holds the checked rows only; with none it goes away.
  const bool hadPackage = QFileInfo::exists(packagePath);
  if (anyChecked(rows)) {
    if (!writeWhole(packagePath, mimePackageXml(rows)))
      problems.append(setupText("%1 を書き込めません").arg(packagePath));
  } else if (hadPackage && !QFile::remove(packagePath)) {
    problems.append(setupText("%1 を削除できません").arg(packagePath));
  }
  if (anyChecked(rows) || hadPackage)
    runHelper(run, QStringLiteral("update-mime-database"), {mimeDir}, &problems);

  // Type icons: named as shared-mime-info derives them from the type.
  for (int i = 0; i < rowCount(); ++i) {
    const AssociationRow& row = rowAt(i);
    const QString target = iconFolder("mimetypes") + "/" + associationIconName(row) + ".png";
    if (!rows[size_t(i)]) {
      QFile::remove(target);
      continue;
    }
    const QString source = iconSource(programDir, row.extensions.value(0));
    if (source.isEmpty()) continue;
    if (!installIcon(source, target)) problems.append(setupText("%1 を読めません").arg(source));
  }
  const QString player = QDir(programDir).absoluteFilePath(PLAYER_PROGRAM_NAME);
  const QString entryPath = appsDir + "/" + DESKTOP_ENTRY_NAME;
  // Nothing checked and nothing registered before: no entry is made at all.
  if (anyChecked(rows) || QFileInfo::exists(entryPath)) {
    QString appIcon;
    const QString appIconSource = iconSource(programDir, PLAYER_PROGRAM_NAME);
    if (!appIconSource.isEmpty() &&
        installIcon(appIconSource, iconFolder("apps") + "/" + PLAYER_PROGRAM_NAME + ".png"))
      appIcon = PLAYER_PROGRAM_NAME;
    if (!writeWhole(entryPath, desktopEntry(QDir::cleanPath(player), rows, appIcon)))
      problems.append(setupText("%1 を書き込めません").arg(entryPath));
    runHelper(run, QStringLiteral("update-desktop-database"), {appsDir}, &problems);
  }

  for (int i = 0; i < rowCount(); ++i)
    for (const QString& type : handledTypes(rowAt(i), rows[size_t(i)]))
      runHelper(run, QStringLiteral("xdg-mime"),
                {QStringLiteral("default"), DESKTOP_ENTRY_NAME, type}, &problems);
  problems.removeDuplicates();  // a missing xdg-mime is said once, not once per row
  return problems;
}

}  // namespace vlm
