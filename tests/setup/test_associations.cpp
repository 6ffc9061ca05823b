// The freedesktop side of the associations: package and desktop entry content, the files the
// apply step leaves under $XDG_DATA_HOME, the helper calls, and (when the helpers are
// installed) what xdg-mime answers afterwards.
#include <QImage>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QXmlStreamReader>

#include "setup_fixture.h"

using namespace vlm;

namespace {

struct DeclaredType {
  QString comment;         // the Japanese one
  QString englishComment;  // the one without a language
  QStringList globs;
  QStringList globWeights;  // "" where the glob has the default weight
  QStringList magic;
  QString parent;
};

// Parses the package back; fails the test on malformed XML.
QMap<QString, DeclaredType> parsePackage(const QByteArray& xml) {
  QMap<QString, DeclaredType> types;
  QXmlStreamReader r(xml);
  QString current;
  bool sawRoot = false;
  while (!r.atEnd()) {
    r.readNext();
    if (!r.isStartElement()) continue;
    const QStringView name = r.name();
    if (name == u"mime-info") {
      sawRoot = true;
      EXPECT_EQ(r.namespaceUri(), u"http://www.freedesktop.org/standards/shared-mime-info");
    } else if (name == u"mime-type") {
      current = r.attributes().value("type").toString();
      types[current];
    } else if (name == u"comment") {
      const bool japanese = r.attributes().value("xml:lang") == u"ja";
      (japanese ? types[current].comment : types[current].englishComment) = r.readElementText();
    } else if (name == u"glob") {
      types[current].globs << r.attributes().value("pattern").toString();
      types[current].globWeights << r.attributes().value("weight").toString();
    } else if (name == u"match") {
      EXPECT_EQ(r.attributes().value("offset"), u"0");
      types[current].magic << r.attributes().value("value").toString();
    } else if (name == u"sub-class-of") {
      types[current].parent = r.attributes().value("type").toString();
    }
  }
  EXPECT_FALSE(r.hasError()) << r.errorString().toStdString();
  EXPECT_TRUE(sawRoot);
  return types;
}

AssociationSet allRows() {
  AssociationSet rows;
  rows.fill(true);
  return rows;
}

bool haveProgram(const char* name) {
  return !QStandardPaths::findExecutable(name).isEmpty();
}

QString runAndRead(const QString& program, const QStringList& args) {
  QProcess p;
  p.start(program, args);
  p.waitForFinished(30000);
  return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

}  // namespace

// The install's package (every user) declares the same types as the user's own, but its globs
// keep the default weight: installing it must not take .mml, .sml, .smd or .pmd from the types
// other programs own, while the user's checked rows outweigh them.
TEST(MimePackage, TheInstallsPackageDeclaresTheSameTypesWithoutOutweighingOthers) {
  const QMap<QString, DeclaredType> user = parsePackage(mimePackageXml(allRows()));
  const QMap<QString, DeclaredType> system =
      parsePackage(mimePackageXml(allRows(), MimeScope::System));
  ASSERT_EQ(system.keys(), user.keys());
  for (auto it = system.begin(); it != system.end(); ++it) {
    const DeclaredType& mine = user[it.key()];
    EXPECT_EQ(it.value().globs, mine.globs) << it.key().toStdString();
    EXPECT_EQ(it.value().magic, mine.magic) << it.key().toStdString();
    EXPECT_EQ(it.value().parent, mine.parent) << it.key().toStdString();
    EXPECT_EQ(it.value().comment, mine.comment) << it.key().toStdString();
    for (const QString& weight : it.value().globWeights) EXPECT_EQ(weight, "");
    for (const QString& weight : mine.globWeights) EXPECT_EQ(weight, "60");
  }
  // The desktop entry of either lists every declared type, and the system's own type of the
  // formats that have one.
  const QStringList handled = handledMimeTypes(allRows());
  for (const QString& type : system.keys()) EXPECT_TRUE(handled.contains(type));
  EXPECT_TRUE(handled.contains("audio/midi"));
  EXPECT_TRUE(handled.contains("application/vnd.smaf"));
}

TEST(MimePackage, DeclaresOneTypePerRowWithGlobsMagicAndDisplayName) {
  const QMap<QString, DeclaredType> types = parsePackage(mimePackageXml(allRows()));
  ASSERT_EQ(size_t(types.size()), associationRows().size());
  const DeclaredType& smd = types["audio/x-vlmplay-smd"];
  EXPECT_EQ(smd.globs, QStringList({"*.smd", "*.smz"}));
  EXPECT_EQ(smd.comment, QString::fromUtf8("J-SKYﾒﾛﾃﾞｨﾌｧｲﾙ"));
  EXPECT_TRUE(smd.magic.isEmpty());
  EXPECT_EQ(types["audio/x-vlmplay-mel"].globs, QStringList({"*.mel", "*.sml"}));
  EXPECT_EQ(types["audio/x-vlmplay-mel"].comment, QString::fromUtf8("ﾄﾞｯﾄiｽｰﾊﾟｰ着ﾒﾛ"));
  EXPECT_EQ(types["audio/x-vlmplay-mld"].comment, QString::fromUtf8("iﾒﾛﾃﾞｨﾌｧｲﾙ"));
  // English desktops name the types in English, Japanese ones as before.
  EXPECT_EQ(smd.englishComment, QStringLiteral("J-SKY melody file"));
  EXPECT_EQ(types["audio/x-vlmplay-mld"].englishComment, QStringLiteral("i-melody file"));
  EXPECT_EQ(types["audio/x-vlmplay-mid"].englishComment, QStringLiteral("MIDI file"));
  // The five formats that carry a mark in their first four bytes.
  const QMap<QString, QString> marks = {{"audio/x-vlmplay-mid", "MThd"},
                                        {"audio/x-vlmplay-mld", "melo"},
                                        {"audio/x-vlmplay-pmd", "cmid"},
                                        {"audio/x-vlmplay-mmf", "MMMD"},
                                        {"audio/x-vlmplay-dxm", "MCDF"}};
  int withMagic = 0;
  for (auto it = types.begin(); it != types.end(); ++it) {
    if (marks.contains(it.key())) {
      EXPECT_EQ(it.value().magic, QStringList{marks[it.key()]}) << it.key().toStdString();
      ++withMagic;
    } else {
      EXPECT_TRUE(it.value().magic.isEmpty()) << it.key().toStdString();
    }
    EXPECT_FALSE(it.value().comment.isEmpty());
  }
  EXPECT_EQ(withMagic, 5);
  EXPECT_EQ(types["audio/x-vlmplay-mid"].parent, "audio/midi");
  // The text formats refine text/plain, so that a text sniff keeps them apart from MathML/SMIL.
  EXPECT_EQ(types["audio/x-vlmplay-mml"].parent, "text/plain");
  EXPECT_EQ(types["audio/x-vlmplay-mel"].parent, "text/plain");
}

TEST(DesktopEntry, AllRowsTakeOnlyOurTypesAndTheSameFormatsSystemTypes) {
  AssociationSet rows;
  rows.fill(true);
  const QByteArray entry = desktopEntry("/p/vlmplay", rows, "");
  const int at = entry.indexOf("MimeType=");
  ASSERT_GE(at, 0);
  QList<QByteArray> types = entry.mid(at + 9, entry.indexOf('\n', at) - at - 9).split(';');
  types.removeAll(QByteArray());
  // Nine of ours plus audio/midi and application/vnd.smaf; never text/plain or another format.
  EXPECT_EQ(types.size(), 11);
  EXPECT_TRUE(types.contains("application/vnd.smaf"));
  EXPECT_FALSE(types.contains("text/plain"));
}

// Desktops show the English name and comment, and the Japanese ones under a Japanese locale.
TEST(DesktopEntry, EnglishTextsWithJapaneseOnes) {
  const QString entry = QString::fromUtf8(desktopEntry("/p/vlmplay", AssociationSet{}, ""));
  const QStringList lines = entry.split('\n');
  EXPECT_TRUE(lines.contains("Name=VlmPlayer"));
  EXPECT_TRUE(lines.contains("Comment=Plays and converts mobile phone ringtones"));
  EXPECT_TRUE(lines.contains("Comment[ja]=携帯電話の着信メロディを再生・変換します"));
  EXPECT_TRUE(lines.contains("GenericName[ja]=着信メロディプレーヤー"));
}

TEST(MimePackage, HoldsOnlyTheCheckedRows) {
  const QMap<QString, DeclaredType> types = parsePackage(mimePackageXml(onlyRows({305})));
  ASSERT_EQ(types.keys(), QStringList{"audio/x-vlmplay-smd"});
  // Nothing checked still gives a well-formed (empty) package.
  EXPECT_TRUE(parsePackage(mimePackageXml(AssociationSet{})).isEmpty());
}

TEST(DesktopEntry, ExecQuotingFollowsTheDesktopEntryRules) {
  EXPECT_EQ(quoteExecArgument("/opt/vlm/bin/vlmplay"), "/opt/vlm/bin/vlmplay");
  EXPECT_EQ(quoteExecArgument("/home/a b/vlmplay"), "\"/home/a b/vlmplay\"");
  // Inside quotes " ` $ \ get a backslash, and every backslash is doubled once more for the
  // string escapes of the file; % would start a field code.
  EXPECT_EQ(quoteExecArgument("/x/$a\"b"), "\"/x/\\\\$a\\\\\"b\"");
  EXPECT_EQ(quoteExecArgument("/x/100%"), "/x/100%%");
  EXPECT_EQ(quoteExecArgument("/x/a\\b"), "\"/x/a\\\\\\\\b\"");
}

TEST(DesktopEntry, ExecAndMimeTypeOfTheCheckedRowsRoundTrip) {
  const QByteArray entry = desktopEntry("/opt/my player/vlmplay", onlyRows({303, 308}), "");
  EXPECT_TRUE(entry.contains("\nExec=\"/opt/my player/vlmplay\" %F\n"));
  // The MIDI row also takes the system's audio/midi, so that .mid opens here whichever
  // detector decides the type.
  EXPECT_TRUE(entry.contains("\nMimeType=audio/x-vlmplay-mld;audio/x-vlmplay-mid;audio/midi;\n"));
  EXPECT_FALSE(entry.contains("Icon="));
  EXPECT_EQ(rowsOfDesktopEntry(entry), onlyRows({303, 308}));
  // A MimeType line of another group and similar names do not count.
  const QByteArray other =
      "[Desktop Entry]\nMimeType=audio/x-vlmplay-mldx;\n[Desktop Action x]\n"
      "MimeType=audio/x-vlmplay-als;\n";
  EXPECT_EQ(rowsOfDesktopEntry(other), AssociationSet{});
  EXPECT_EQ(rowsOfDesktopEntry(desktopEntry("/p/vlmplay", AssociationSet{}, "")), AssociationSet{});
}

// The package and the desktop entry as the setup tool writes them, byte for byte (each type's
// comment in English and in Japanese): deriving the association rows from the format table
// must not change a type, a glob, a mark or their order.
const char* const SYSTEM_PACKAGE = R"(<?xml version="1.0" encoding="UTF-8"?>
<mime-info xmlns="http://www.freedesktop.org/standards/shared-mime-info">
  <mime-type type="audio/x-vlmplay-als">
    <comment>P-melody file</comment>
    <comment xml:lang="ja">Pﾒﾛﾃﾞｨﾌｧｲﾙ</comment>
    <alias type="audio/x-alpha5"/>
    <generic-icon name="audio-x-generic"/>
    <glob pattern="*.als"/>
  </mime-type>
  <mime-type type="audio/x-vlmplay-dxm">
    <comment>feelsound file</comment>
    <comment xml:lang="ja">feelsoundﾌｧｲﾙ</comment>
    <generic-icon name="audio-x-generic"/>
    <glob pattern="*.dxm"/>
    <magic priority="80">
      <match type="string" offset="0" value="MCDF"/>
    </magic>
  </mime-type>
  <mime-type type="audio/x-vlmplay-mld">
    <comment>i-melody file</comment>
    <comment xml:lang="ja">iﾒﾛﾃﾞｨﾌｧｲﾙ</comment>
    <generic-icon name="audio-x-generic"/>
    <glob pattern="*.mld"/>
    <magic priority="80">
      <match type="string" offset="0" value="melo"/>
    </magic>
  </mime-type>
  <mime-type type="audio/x-vlmplay-pmd">
    <comment>EZweb melody file</comment>
    <comment xml:lang="ja">EZwebﾒﾛﾃﾞｨﾌｧｲﾙ</comment>
    <generic-icon name="audio-x-generic"/>
    <glob pattern="*.pmd"/>
    <magic priority="80">
      <match type="string" offset="0" value="cmid"/>
    </magic>
  </mime-type>
  <mime-type type="audio/x-vlmplay-smd">
    <comment>J-SKY melody file</comment>
    <comment xml:lang="ja">J-SKYﾒﾛﾃﾞｨﾌｧｲﾙ</comment>
    <sub-class-of type="text/plain"/>
    <generic-icon name="audio-x-generic"/>
    <glob pattern="*.smd"/>
    <glob pattern="*.smz"/>
  </mime-type>
  <mime-type type="audio/x-vlmplay-mmf">
    <comment>SMAF file</comment>
    <comment xml:lang="ja">SMAFﾌｧｲﾙ</comment>
    <sub-class-of type="application/vnd.smaf"/>
    <generic-icon name="audio-x-generic"/>
    <glob pattern="*.mmf"/>
    <magic priority="80">
      <match type="string" offset="0" value="MMMD"/>
    </magic>
  </mime-type>
  <mime-type type="audio/x-vlmplay-mml">
    <comment>MML file</comment>
    <comment xml:lang="ja">MMLﾌｧｲﾙ</comment>
    <sub-class-of type="text/plain"/>
    <generic-icon name="audio-x-generic"/>
    <glob pattern="*.mml"/>
  </mime-type>
  <mime-type type="audio/x-vlmplay-mid">
    <comment>MIDI file</comment>
    <comment xml:lang="ja">MIDIﾌｧｲﾙ</comment>
    <sub-class-of type="audio/midi"/>
    <generic-icon name="audio-x-generic"/>
    <glob pattern="*.mid"/>
    <magic priority="80">
      <match type="string" offset="0" value="MThd"/>
    </magic>
  </mime-type>
  <mime-type type="audio/x-vlmplay-mel">
    <comment>Dot-i Super ringtone</comment>
    <comment xml:lang="ja">ﾄﾞｯﾄiｽｰﾊﾟｰ着ﾒﾛ</comment>
    <sub-class-of type="text/plain"/>
    <generic-icon name="audio-x-generic"/>
    <glob pattern="*.mel"/>
    <glob pattern="*.sml"/>
  </mime-type>
</mime-info>
)";

TEST(MimePackage, EveryRowGivesTheSamePackageAsBefore) {
  // The nine rows the setup tool had; rows added later have their own types after them.
  const AssociationSet nineRows = onlyRows({301, 302, 303, 304, 305, 306, 307, 308, 309});
  EXPECT_EQ(mimePackageXml(nineRows, MimeScope::System).toStdString(), SYSTEM_PACKAGE);
  // The user's package differs only in the weight of its globs.
  QByteArray expected;
  for (QByteArray line : QByteArray(SYSTEM_PACKAGE).split('\n')) {
    if (line.contains("<glob ")) line.replace("\"/>", "\" weight=\"60\"/>");
    expected += line + '\n';
  }
  expected.chop(1);
  EXPECT_EQ(mimePackageXml(nineRows).toStdString(), expected.toStdString());
  // The desktop entry's types, in the same order.
  const QByteArray entry = desktopEntry("vlmplay", nineRows, "vlmplay");
  const qsizetype at = entry.indexOf("\nMimeType=");
  ASSERT_GE(at, 0);
  EXPECT_EQ(entry.mid(at + 1, entry.indexOf('\n', at + 1) - at).toStdString(),
            "MimeType=audio/x-vlmplay-als;audio/x-vlmplay-dxm;audio/x-vlmplay-mld;"
            "audio/x-vlmplay-pmd;audio/x-vlmplay-smd;audio/x-vlmplay-mmf;application/vnd.smaf;"
            "audio/x-vlmplay-mml;audio/x-vlmplay-mid;audio/midi;audio/x-vlmplay-mel;\n");
}

// The check boxes: ids, texts and the program identifiers made from the first extension.
TEST(MimePackage, TheCheckBoxesStayAsTheUserKnowsThem) {
  const char* const expected[][3] = {
      {"301", "Pメロディ(als)", "als"},
      {"302", "feelsound(dxm)", "dxm"},
      {"303", "iメロディ(mld)", "mld"},
      {"304", "EZwebメロディ(pmd)", "pmd"},
      {"305", "J-SKYメロディ(smd/smz)", "smd smz"},
      {"306", "SMAF(mmf)", "mmf"},
      {"307", "音楽ﾏｸﾛ言語(mml)", "mml"},
      {"308", "MIDIファイル(mid)", "mid"},
      {"309", "ﾄﾞｯﾄiｽｰﾊﾟｰ着ﾒﾛ(mel/sml)", "mel sml"},
  };
  const auto& rows = associationRows();
  ASSERT_GE(rows.size(), std::size(expected));
  EXPECT_LE(rows.size(), size_t(MAX_ASSOCIATION_ROWS));
  for (size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_EQ(QString::number(rows[i].id), expected[i][0]);
    EXPECT_STREQ(rows[i].label, expected[i][1]);
    EXPECT_EQ(rows[i].extensions.join(' '), expected[i][2]);
  }
}

class ApplyAssociations : public SetupTest {};

TEST_F(ApplyAssociations, WritesPackageEntryIconAndRunsEachHelperWithArguments) {
  putPlayer();
  QImage icon(32, 32, QImage::Format_ARGB32);
  icon.fill(Qt::red);
  QDir().mkpath(programDir() + "/bmp");
  ASSERT_TRUE(icon.save(programDir() + "/bmp/smd.ico", "ICO"));
  ASSERT_TRUE(icon.save(programDir() + "/bmp/vlmplay.png", "PNG"));

  const QStringList problems = applyAssociations(onlyRows({305}), programDir(), recorder());
  EXPECT_TRUE(problems.isEmpty()) << problems.join('\n').toStdString();

  const QMap<QString, DeclaredType> types =
      parsePackage(readFile(dataHome() + "/mime/packages/vlmplay.xml"));
  EXPECT_EQ(types.keys(), QStringList{"audio/x-vlmplay-smd"});
  const QByteArray entry = readFile(dataHome() + "/applications/vlmplay.desktop");
  EXPECT_TRUE(entry.contains("\nExec=" + QFile::encodeName(programDir()) + "/vlmplay %F\n"));
  EXPECT_EQ(rowsOfDesktopEntry(entry), onlyRows({305}));
  // One icon for both extensions, converted to a 48-pixel PNG.
  const QImage installed(dataHome() + "/icons/hicolor/48x48/mimetypes/audio-x-vlmplay-smd.png");
  EXPECT_EQ(installed.size(), QSize(48, 48));
  EXPECT_TRUE(entry.contains("\nIcon=vlmplay\n"));
  EXPECT_EQ(QImage(dataHome() + "/icons/hicolor/48x48/apps/vlmplay.png").size(), QSize(48, 48));

  ASSERT_EQ(callsOf("update-mime-database").size(), 1u);
  EXPECT_EQ(callsOf("update-mime-database")[0].args, QStringList{dataHome() + "/mime"});
  ASSERT_EQ(callsOf("update-desktop-database").size(), 1u);
  EXPECT_EQ(callsOf("update-desktop-database")[0].args, QStringList{dataHome() + "/applications"});
  ASSERT_EQ(callsOf("xdg-mime").size(), 1u);
  EXPECT_EQ(callsOf("xdg-mime")[0].args,
            QStringList({"default", "vlmplay.desktop", "audio/x-vlmplay-smd"}));
  // Only our own names under the data folder; no temporary files left beside them.
  EXPECT_EQ(QDir(dataHome() + "/applications").entryList(QDir::Files),
            QStringList{"vlmplay.desktop"});
  EXPECT_EQ(QDir(dataHome() + "/mime/packages").entryList(QDir::Files), QStringList{"vlmplay.xml"});
}

TEST_F(ApplyAssociations, UncheckingRemovesOurRowsAndLeavesOtherProgramsAlone) {
  putPlayer();
  const QByteArray foreign =
      "[Desktop Entry]\nType=Application\nName=X\nExec=x\n"
      "MimeType=audio/x-vlmplay-mld;\n";
  writeFile(dataHome() + "/applications/other.desktop", foreign);
  writeFile(programDir() + "/bmp/mid.png", QByteArray());  // unreadable: reported, not fatal
  QImage(16, 16, QImage::Format_RGB32).save(programDir() + "/bmp/mld.png", "PNG");

  applyAssociations(onlyRows({303, 308}), programDir(), recorder());
  const QString mldIcon = dataHome() + "/icons/hicolor/48x48/mimetypes/audio-x-vlmplay-mld.png";
  EXPECT_TRUE(QFile::exists(mldIcon));
  EXPECT_EQ(registeredAssociations(), onlyRows({303, 308}));

  calls_.clear();
  const QStringList problems = applyAssociations(onlyRows({308}), programDir(), recorder());
  EXPECT_EQ(registeredAssociations(), onlyRows({308}));
  EXPECT_EQ(parsePackage(readFile(dataHome() + "/mime/packages/vlmplay.xml")).keys(),
            QStringList{"audio/x-vlmplay-mid"});
  EXPECT_FALSE(QFile::exists(mldIcon));
  EXPECT_EQ(problems.size(), 1);  // the empty mid.png
  ASSERT_EQ(callsOf("xdg-mime").size(), 2u);
  EXPECT_EQ(callsOf("xdg-mime")[1].args, QStringList({"default", "vlmplay.desktop", "audio/midi"}));

  // Nothing checked: the package goes, the database is rebuilt without it, no default is set.
  calls_.clear();
  applyAssociations(AssociationSet{}, programDir(), recorder());
  EXPECT_FALSE(QFile::exists(dataHome() + "/mime/packages/vlmplay.xml"));
  EXPECT_EQ(callsOf("update-mime-database").size(), 1u);
  EXPECT_TRUE(callsOf("xdg-mime").empty());
  EXPECT_EQ(registeredAssociations(), AssociationSet{});
  EXPECT_EQ(readFile(dataHome() + "/applications/other.desktop"), foreign);
}

TEST_F(ApplyAssociations, NothingCheckedOnAFreshAccountWritesNothing) {
  putPlayer();
  QDir().mkpath(programDir() + "/bmp");
  ASSERT_TRUE(QImage(16, 16, QImage::Format_RGB32).save(programDir() + "/bmp/vlmplay.png", "PNG"));
  EXPECT_TRUE(applyAssociations(AssociationSet{}, programDir(), recorder()).isEmpty());
  EXPECT_TRUE(calls_.empty());
  EXPECT_TRUE(QDir(dataHome()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

TEST_F(ApplyAssociations, MissingOrFailingHelpersAreReportedOnce) {
  putPlayer();
  missing_ << "update-mime-database";
  failing_ << "xdg-mime";
  const QStringList problems =
      applyAssociations(onlyRows({301, 302, 303}), programDir(), recorder());
  ASSERT_EQ(problems.size(), 2) << problems.join('\n').toStdString();
  EXPECT_TRUE(problems[0].contains("update-mime-database"));
  EXPECT_TRUE(problems[1].contains("xdg-mime"));
  EXPECT_TRUE(problems[1].contains("bad package"));
  EXPECT_EQ(callsOf("xdg-mime").size(), 3u);  // each row still tried
  // The files are written all the same.
  EXPECT_EQ(registeredAssociations(), onlyRows({301, 302, 303}));
}

TEST_F(ApplyAssociations, RealHelpersMakeVlmplayTheDefaultAndKnowOurTypes) {
  if (!haveProgram("update-mime-database") || !haveProgram("xdg-mime") ||
      !haveProgram("update-desktop-database"))
    GTEST_SKIP() << "shared-mime-info, xdg-utils or desktop-file-utils not installed";
  putPlayer();
  AssociationSet rows;
  rows.fill(true);
  const QStringList problems = applyAssociations(rows, programDir(), processRunner());
  EXPECT_TRUE(problems.isEmpty()) << problems.join('\n').toStdString();
  EXPECT_TRUE(QFile::exists(dataHome() + "/mime/mime.cache"));
  EXPECT_TRUE(QFile::exists(dataHome() + "/applications/mimeinfo.cache"));
  for (const char* type : {"audio/x-vlmplay-mld", "audio/x-vlmplay-smd", "audio/x-vlmplay-mid",
                           "audio/midi", "application/vnd.smaf"})
    EXPECT_EQ(runAndRead("xdg-mime", {"query", "default", type}), "vlmplay.desktop") << type;
  if (haveProgram("desktop-file-validate")) {
    QProcess v;
    v.start("desktop-file-validate", {dataHome() + "/applications/vlmplay.desktop"});
    v.waitForFinished(30000);
    EXPECT_EQ(v.exitCode(), 0) << v.readAllStandardOutput().toStdString();
  }
  // File type by name and, without an extension, by the first bytes (xdg-mime asks the
  // mimetype program of File::MimeInfo, which reads our database; plain `file` does not).
  if (haveProgram("mimetype")) {
    writeFile(path("song.mld"), "melo\0\0\0\0");
    writeFile(path("noname"), QByteArray("melo\0\0\0\x20", 8));
    EXPECT_EQ(runAndRead("xdg-mime", {"query", "filetype", path("song.mld")}),
              "audio/x-vlmplay-mld");
    EXPECT_EQ(runAndRead("xdg-mime", {"query", "filetype", path("noname")}), "audio/x-vlmplay-mld");
    // .mmf is also the system's application/vnd.smaf: whichever type is detected, its
    // default is ours.
    writeFile(path("tune.mmf"), "MMMD");
    const QString smaf = runAndRead("xdg-mime", {"query", "filetype", path("tune.mmf")});
    EXPECT_EQ(runAndRead("xdg-mime", {"query", "default", smaf}), "vlmplay.desktop")
        << smaf.toStdString();
  }
  // GLib's detector honours the glob weights: text files named .mml or .sml are ours, not
  // MathML or SMIL.
  if (haveProgram("gio")) {
    writeFile(path("tune.mml"), "T120 L4 CDEFG\n");
    writeFile(path("tune.sml"), "<MEL=x>\n");
    for (const char* name : {"tune.mml", "tune.sml", "song.mld"}) {
      const QString info = runAndRead("gio", {"info", "-a", "standard::content-type", path(name)});
      EXPECT_TRUE(info.contains("audio/x-vlmplay-")) << name << ": " << info.toStdString();
    }
  }
}
