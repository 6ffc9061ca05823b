// File associations of the melody formats on a freedesktop desktop, all of them in the user's
// own data folder ($XDG_DATA_HOME, default ~/.local/share): one shared-mime-info package with a
// MIME type per row of the association table, one desktop entry that starts vlmplay with the
// files, the user's default application for each checked type, and icons from the bmp folder.
// The helper programs (update-mime-database, xdg-mime, update-desktop-database) are started
// through a replaceable runner, always with an argument list.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <functional>
#include <vector>

namespace vlm {

// One check box of the setup tool: a file type of the format table with the extensions its
// input rows associate (without the dot), in the table's order.
struct AssociationRow {
  int id;                   // check box id, 301..
  const char* label;        // check box text
  QStringList extensions;   // first and further extensions, without the dot
  const char* displayName;  // the type's comment
  const char* englishName;  // the type's comment in English; null = the Japanese one
  const char* contentType;  // the row's content type of old, kept as an alias; null = none
  const char* magic;        // four bytes at offset 0 that mark the format; null = none
  const char* parentType;   // a well-known type this one refines; null = none
  // The system's own type for the same format, which a checked row also makes vlmplay open;
  // null = none.
  const char* sharedType;
};

// Room for the rows; the format table's file types are fewer (a test checks it).
inline constexpr int MAX_ASSOCIATION_ROWS = 16;
// Checked rows, by their place in associationRows().
using AssociationSet = std::array<bool, MAX_ASSOCIATION_ROWS>;

// The rows in the order they are processed (301, 302, ...), made from the format table.
const std::vector<AssociationRow>& associationRows();
// The place of a check box id in associationRows(), -1 for none.
int associationIndex(int id);

// "audio/x-vlmplay-" + first extension.
QString associationMimeType(const AssociationRow& row);
// The icon name that shared-mime-info derives from the type ("audio-x-vlmplay-mld").
QString associationIconName(const AssociationRow& row);

inline constexpr const char* DESKTOP_ENTRY_NAME = "vlmplay.desktop";
inline constexpr const char* MIME_PACKAGE_NAME = "vlmplay.xml";
inline constexpr const char* PLAYER_PROGRAM_NAME = "vlmplay";

// $XDG_DATA_HOME when it is an absolute path, else ~/.local/share; no trailing slash.
QString xdgDataHome();

// Whom a MIME package is for. The user's own package (written here when rows are checked) gives
// its globs more weight than the system's types of the same extensions, as the user asked. The
// package of an install, for every user, keeps the default weight, so that installing it takes
// no extension (.mml, .sml, .smd, .pmd) from the formats other programs own; the magic bytes
// decide between the two types then.
enum class MimeScope { User, System };
// The shared-mime-info package declaring the checked rows. The install's package is made by the
// same function (tools/gen_desktop_files) from the same rows.
QByteArray mimePackageXml(const AssociationSet& rows, MimeScope scope = MimeScope::User);
// The types the player's desktop entry lists for the checked rows: each row's own type and the
// well-known type of the same format.
QStringList handledMimeTypes(const AssociationSet& rows);
// One argument of an Exec line, quoted as the Desktop Entry rules ask when it needs it, with
// the string escapes of the file format applied.
QString quoteExecArgument(const QString& argument);
// The desktop entry that opens the given files in `playerPath`, listing the checked types.
QByteArray desktopEntry(const QString& playerPath, const AssociationSet& rows,
                        const QString& iconName);
// Rows whose type our desktop entry (the text given) lists in MimeType=.
AssociationSet rowsOfDesktopEntry(const QByteArray& entry);
// Rows registered now: read from $XDG_DATA_HOME/applications/vlmplay.desktop.
AssociationSet registeredAssociations();

struct ProgramResult {
  bool started = false;  // false: the program is missing or could not be run
  int exitCode = -1;
  QString errorText;  // what the program printed on its error output, or why it did not start
};
using ProgramRunner = std::function<ProgramResult(const QString& program, const QStringList& args)>;
// Runs the program with QProcess (no shell) and waits for it, at most 30 seconds.
ProgramRunner processRunner();

// Writes the package, the desktop entry and the icons for `rows`, removes what the unchecked
// rows had, and runs the helpers. `programDir` is the folder of vlmplay and of bmp/. Returns
// one line per problem (a helper missing or failing, a file not written); empty when all went
// well.
QStringList applyAssociations(const AssociationSet& rows, const QString& programDir,
                              const ProgramRunner& run);

}  // namespace vlm
