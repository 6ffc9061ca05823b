// Makes the desktop files of an install from the setup tool's association table, so that the
// system-wide MIME package and desktop entry declare the same types as the per-user ones the
// setup tool writes:
//   gen_desktop_files MIME_PACKAGE DESKTOP_ENTRY METAINFO METAINFO_TEMPLATE
// writes the shared-mime-info package, the player's desktop entry and the AppStream file (the
// template with the line @MIME_TYPES@ replaced by the types).
#include <QByteArray>
#include <QFile>
#include <QSaveFile>
#include <QString>
#include <cstdio>

#include "setup/associations.h"

namespace {

bool write(const QString& path, const QByteArray& bytes) {
  QSaveFile out(path);
  if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit()) {
    std::fprintf(stderr, "gen_desktop_files: cannot write %s\n", qPrintable(path));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(
        stderr, "usage: gen_desktop_files MIME_PACKAGE DESKTOP_ENTRY METAINFO METAINFO_TEMPLATE\n");
    return 2;
  }
  vlm::AssociationSet all;
  all.fill(true);

  QFile templ(QFile::decodeName(argv[4]));
  if (!templ.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "gen_desktop_files: cannot read %s\n", argv[4]);
    return 1;
  }
  QByteArray types;
  for (const QString& type : vlm::handledMimeTypes(all))
    types += "    <mediatype>" + type.toUtf8() + "</mediatype>\n";
  QByteArray metainfo = templ.readAll();
  metainfo.replace("@MIME_TYPES@\n", types);

  // Exec names the program on PATH: the entry lies in PREFIX/share/applications and the
  // program in PREFIX/bin, wherever PREFIX is.
  const bool ok =
      write(QFile::decodeName(argv[1]), vlm::mimePackageXml(all, vlm::MimeScope::System)) &&
      write(QFile::decodeName(argv[2]),
            vlm::desktopEntry(vlm::PLAYER_PROGRAM_NAME, all, vlm::PLAYER_PROGRAM_NAME)) &&
      write(QFile::decodeName(argv[3]), metainfo);
  return ok ? 0 : 1;
}
