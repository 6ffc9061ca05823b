// The modal dialogs of settings and texts (conversion settings, about, mail, conversion
// details, text information) and the file properties report.
#include <QComboBox>
#include <QFont>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "app/dialogs/dialog_procs.h"
#include "convert/conversion_run.h"
#include "core/vstream.h"
#include "playback/player.h"
#include "util/files.h"
#include "util/memblock.h"

namespace vlm::dialogs {

namespace {

#define OPT(f) [] { return int(options.f); }, [](int v) { options.f = decltype(options.f)(v); }
#define VALUE(f) \
  [] { return int(dialogValues.f); }, [](int v) { dialogValues.f = decltype(dialogValues.f)(v); }
#define SONG_TEXT(field)                             \
  [] { return std::string(song.info.text[field]); }, \
      [](const std::string& s) { setSongText(field, s.data(), s.size()); }

constexpr int MAIL_FIELD_BYTES = 127;
constexpr int MAIL_HISTORY = 9;
constexpr int REPORT_WIDTH = 460;  // template width of the report in pixels, before `propwith`

// ---- Properties -----------------------------------------------------------------------------

class PropertiesDialog : public TableDialog {
 public:
  PropertiesDialog(std::vector<Control> t, QWidget* parent)
      : TableDialog(DLG_PROPERTIES, "ファイルプロパティ", std::move(t), parent) {}

 protected:
  void init() override {
    if (auto* report = qobject_cast<QPlainTextEdit*>(control(301))) {
      QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
      f.setPixelSize(12);
      report->setFont(f);
      QPalette p = report->palette();
      p.setColor(QPalette::Base, p.color(QPalette::Button));
      report->setPalette(p);
      const int percent = std::clamp(options.propwith, 20, 400);
      report->setMinimumSize(REPORT_WIDTH * percent / 100, 320);
      report->setLineWrapMode(QPlainTextEdit::NoWrap);
    }
    setTextOf(301, propertiesReport());
  }
  void command(int id) override {
    if (id == 401) setTextOf(301, propertiesReport());
  }
};

// ---- Conversion settings ----------------------------------------------------------------------

std::vector<Control> conversionTable() {
  Control program = edit(
      102, "圧縮時音色(FM4和音)", 2, 0, 0, 127, Step::Linear, 1, 8,
      [] { return dialogValues.compressProgram - 1; },
      [](int v) { dialogValues.compressProgram = v < 0 ? 0 : v + 1; });
  program.emptyNone = true;
  return {
      check(602, "和音圧縮する", 0, 0, OPT(waoncompress), 2),
      edit(101, "圧縮時音量(FM4和音)", 1, 0, 0, 127, Step::Linear, 1, 8, VALUE(compressVolume)),
      program,
      check(
          601, "ﾄﾞﾗﾑの音色置換(FM4和音)", 3, 0,
          [] { return (dialogValues.drumReplace & 0x80) ? 1 : 0; },
          [](int v) {
            dialogValues.drumReplace = (dialogValues.drumReplace & 0x7F) | (v ? 0x80 : 0);
          }),
      edit(
          104, "ﾄﾞﾗﾑ置換音色", 3, 1, 0, 127, Step::Linear, 1, 8,
          [] { return dialogValues.drumReplace & 0x7F; },
          [](int v) { dialogValues.drumReplace = (dialogValues.drumReplace & 0x80) | (v & 0x7F); }),
      edit(106, "割込みﾚﾍﾞﾙ", 4, 0, 0, 64, Step::Doubling, 0, 64, OPT(wcomplevel)),
  };
}

// ---- About ----------------------------------------------------------------------------------

class AboutDialog : public TableDialog {
 public:
  AboutDialog(std::vector<Control> t, QWidget* parent)
      : TableDialog(DLG_ABOUT, "このプログラムについて", std::move(t), parent) {}

 protected:
  void init() override {
    setTextOf(301, QStringLiteral("VlmPlayer V" VLM_VERSION) +
                       dialogText("\n    着信メロディの再生と変換 (Qt 6 / FluidSynth)"));
    if (QWidget* cancel = control(DLG_CANCEL)) cancel->hide();
  }
};

// ---- Mail -----------------------------------------------------------------------------------

class MailDialog : public TableDialog {
 public:
  MailDialog(std::vector<Control> t, QWidget* parent)
      : TableDialog(DLG_MAIL, "メール送信", std::move(t), parent) {}

 protected:
  void init() override {
    if (auto* combo = qobject_cast<QComboBox*>(control(101))) {
      combo->clear();
      int n = 0;
      for (const std::string& a : options.mailtoList)
        if (!a.empty() && n < MAIL_HISTORY) {
          combo->addItem(fromSjis(a));
          ++n;
        }
      const std::string& current = !runState.mailTo.empty() ? runState.mailTo : options.mailto;
      combo->setEditText(fromSjis(current));
    }
    const std::string subject = !runState.mailSubject.empty()
                                    ? runState.mailSubject
                                    : std::string(song.info.text[INFO_TITLE]);
    setTextOf(102, fromSjis(cutSjis(subject, MAIL_FIELD_BYTES)));
    setTextOf(103, fromSjis(cutSjis(runState.mailAttachment, MAIL_FIELD_BYTES)));
  }

  void store() override {
    const std::string to = toSjis(textOf(101).trimmed(), MAIL_FIELD_BYTES);
    runState.mailTo = to;
    options.mailto = to;
    runState.mailSubject = toSjis(textOf(102), MAIL_FIELD_BYTES);
    runState.mailAttachment = toSjis(textOf(103).trimmed(), MAIL_FIELD_BYTES);
    if (runState.mailAttachment.empty()) runState.mailAttachment = "melody";
    if (to.empty()) return;
    // Most recent first, each address once.
    std::vector<std::string> list{to};
    for (const std::string& a : options.mailtoList)
      if (!a.empty() && a != to && int(list.size()) < MAIL_HISTORY) list.push_back(a);
    for (int i = 0; i < MAIL_RECIPIENTS; ++i)
      options.mailtoList[i] = size_t(i) < list.size() ? list[size_t(i)] : std::string();
  }
};

std::vector<Control> mailTable() {
  Control to;
  to.id = 101;
  to.kind = Kind::Combo;
  to.label = "携帯ｱﾄﾞﾚｽ";
  to.row = 0;
  to.col = 0;
  return {
      to,
      text(102, "題名", 1, 0, 1, MAIL_FIELD_BYTES, nullptr, nullptr),
      text(103, "ﾌｧｲﾙ名", 2, 0, 1, MAIL_FIELD_BYTES, nullptr, nullptr),
      check(601, "写メ蔵経由で送る(ﾄﾞｺﾓ)", 3, 0, OPT(shamezoflg)),
  };
}

// ---- Conversion details ---------------------------------------------------------------------

std::vector<Control> detailsTable() {
  return {
      edit(102, "再生・変換和音数", 0, 0, 0, 64, Step::Linear, 1, 4, OPT(maxwnocut)),
      check(601, "ドラムバンク有効(mid/mld/pmd)", 1, 0, OPT(drambankflg)),
      check(602, "ドラム音色有効(mid/dxm/mld/pmd)", 2, 0, OPT(dramtoneflg)),
      radio(701, "早く鳴り始めた音を切捨て", 3, 0, 1, 0, OPT(cutpriendflg)),
      radio(702, "早く鳴り終わる音を切捨て", 4, 0, 1, 1, OPT(cutpriendflg)),
  };
}

// ---- Text information -----------------------------------------------------------------------

class TextInfoDialog : public TableDialog {
 public:
  TextInfoDialog(std::vector<Control> t, QWidget* parent)
      : TableDialog(DLG_TEXT_INFO, "テキスト情報設定(隠し機能)", std::move(t), parent) {}

 protected:
  void init() override {
    for (int i = 0; i < 9; ++i) setChecked(601 + i, (dialogValues.textConvertMask >> i) & 1);
  }
  void command(int id) override {
    if (id >= 401 && id <= 409) setTextOf(101 + id - 401, QString());
  }
  void store() override {
    uint16_t mask = 0;
    for (int i = 0; i < 9; ++i)
      if (checked(601 + i)) mask |= uint16_t(1u << i);
    dialogValues.textConvertMask = mask;
  }
};

std::vector<Control> textInfoTable() {
  std::vector<Control> t = {
      text(101, "曲名", 0, 1, 1, 255, SONG_TEXT(INFO_TITLE)),
      text(102, "歌手名", 1, 1, 1, 255, SONG_TEXT(INFO_ARTIST)),
      text(103, "著作権", 2, 1, 1, 255, SONG_TEXT(INFO_COPYRIGHT)),
      text(104, "ｿﾌﾄ名", 3, 1, 1, 255, SONG_TEXT(INFO_SOFTWARE)),
      text(105, "作詞", 4, 1, 1, 255, SONG_TEXT(INFO_WORDS)),
      text(106, "作曲", 5, 1, 1, 255, SONG_TEXT(INFO_COMPOSE)),
      text(107, "編曲", 6, 1, 1, 255, SONG_TEXT(INFO_ARRANGE)),
      text(108, "ジャンル", 7, 1, 1, 255, SONG_TEXT(INFO_GENRE)),
      text(109, "日付", 8, 1, 1, 255, SONG_TEXT(INFO_DATE)),
  };
  for (int i = 0; i < 9; ++i) {
    t.push_back(check(601 + i, "", i, 0, nullptr, nullptr));
    t.push_back(button(401 + i, "消", i, 2));
  }
  t.push_back(caption("(変換したい項目にﾁｪｯｸして下さい)", 9, 0, 3));
  return t;
}

#undef OPT
#undef VALUE
#undef SONG_TEXT

QString songText(int field) {
  return fromSjis(
      std::string(song.info.text[field], strnlen(song.info.text[field], INFO_TEXT_SIZE)));
}

QString noteName(int note) {
  static const char* const names[12] = {"C",  "C#", "D",  "D#", "E",  "F",
                                        "F#", "G",  "G#", "A",  "A#", "B"};
  return QStringLiteral("%1%2").arg(QLatin1String(names[note % 12])).arg(note / 12 - 1);
}

// Pads to a width in columns of a fixed font: full-width characters take two, the half-width
// katakana one.
int displayWidth(const QString& text) {
  int used = 0;
  for (QChar ch : text) {
    const char16_t u = ch.unicode();
    used += (u >= 0x1100 && !(u >= 0xFF61 && u <= 0xFF9F)) ? 2 : 1;
  }
  return used;
}

QString pad(const QString& text, int columns) {
  return text + QString(std::max(1, columns - displayWidth(text)), QLatin1Char(' '));
}

// The columns of the channel table: wide enough for its values, and for its heading in the
// interface's language with two spaces after it.
struct ChannelColumns {
  QString range = dialogText("音域"), velocity = dialogText("音力"), volume = dialogText("音量");
  int rangeWidth = std::max(12, displayWidth(range) + 2);
  int velocityWidth = std::max(9, displayWidth(velocity) + 2);
  int volumeWidth = std::max(9, displayWidth(volume) + 2);
};

QString span(int lo, int hi) {
  return lo == hi ? QString::number(lo) : QStringLiteral("%1-%2").arg(lo).arg(hi);
}

// The reset message a MIDI file carries (GM, GS or XG), found in its exclusives.
QString resetType(const std::string& path) {
  if (path.empty()) return QStringLiteral("-");
  uint8_t* bytes = nullptr;
  int32_t size = 0;
  void* block = loadFile(path.c_str(), &bytes, &size);
  if (!block) return QStringLiteral("-");
  const std::string_view image(reinterpret_cast<const char*>(bytes), size_t(size));
  static constexpr char GS[] = {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F};
  static constexpr char XG[] = {0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00};
  static constexpr char GM[] = {0x7E, 0x7F, 0x09, 0x01};
  QString type = QStringLiteral("-");
  if (image.find(std::string_view(XG, sizeof XG)) != std::string_view::npos)
    type = QStringLiteral("XG");
  else if (image.find(std::string_view(GS, sizeof GS)) != std::string_view::npos)
    type = QStringLiteral("GS");
  else if (image.find(std::string_view(GM, sizeof GM)) != std::string_view::npos)
    type = QStringLiteral("GM");
  freeBlock(block);
  return type;
}

}  // namespace

QString propertiesReport() {
  QStringList lines;
  lines << dialogText("曲名: %1").arg(songText(INFO_TITLE));
  lines << dialogText("著作権: %1").arg(songText(INFO_COPYRIGHT));
  lines << dialogText("ｿﾌﾄ名: %1").arg(songText(INFO_SOFTWARE));
  if (songStats.deviceFlags & DEVICE_FLAG_ANY) {
    static const char* const families[7] = {"N", "F", "SO", "P", "R", "D", "SH"};
    QStringList marks;
    for (int i = 0; i < 7; ++i)
      if (songStats.deviceFlags >> i & 1) marks << QLatin1String(families[i]);
    lines << dialogText("機種: %1").arg(marks.join(QLatin1Char(' ')));
  } else {
    lines << dialogText("リセット: %1").arg(resetType(options.histfile[0]));
  }
  if (songStats.tempoMax)
    lines << dialogText("テンポ: %1").arg(span(int(songStats.tempoMin), int(songStats.tempoMax)));
  else
    lines << dialogText("テンポ: -");
  QStringList protect;
  if (song.ProtectFlags & PROTECT_COPY) protect << dialogText("コピー禁止");
  if (song.ProtectFlags & PROTECT_SAVE) protect << dialogText("保存禁止");
  if (song.ProtectFlags & PROTECT_EDIT) protect << dialogText("編集禁止");
  lines << dialogText("プロテクト: %1")
               .arg(protect.isEmpty() ? dialogText("なし") : protect.join(QLatin1Char(' ')));
  lines << dialogText("ファイルサイズ: %1KB (%2byte)")
               .arg(double(song.fileSize) / 1024.0, 0, 'f', 1)
               .arg(song.fileSize);
  const uint32_t ms = lengthMs();
  lines << dialogText("演奏時間: %1分%2秒%3")
               .arg(ms / 60000)
               .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
               .arg(ms % 1000, 3, 10, QLatin1Char('0'));
  uint32_t notes = 0;
  for (const ChannelStats& c : songStats.ch) notes += c.notes;
  lines << dialogText("音符数: %1  最大和音数: %2").arg(notes).arg(songStats.maxPolyphony);
  lines << QString();
  const ChannelColumns cols;
  lines << pad(QStringLiteral("ch"), 5) + pad(cols.range, cols.rangeWidth) +
               pad(cols.velocity, cols.velocityWidth) + pad(cols.volume, cols.volumeWidth) +
               dialogText("音色");
  for (int ch = 0; ch < 16; ++ch) {
    const ChannelStats& c = songStats.ch[ch];
    if (c.notes == 0) continue;
    const bool rhythm = songStats.rhythmMask >> ch & 1;
    QString line = pad(QStringLiteral("%1ch").arg(ch + 1), 5);
    line += pad(noteName(c.lowNote) + QStringLiteral("-") + noteName(c.highNote), cols.rangeWidth);
    line += pad(c.highVelocity ? span(c.lowVelocity, c.highVelocity) : QStringLiteral("-"),
                cols.velocityWidth);
    line += pad(c.lowVolume != 0xFF ? span(c.lowVolume, c.highVolume) : QStringLiteral("-"),
                cols.volumeWidth);
    if (rhythm)
      line += dialogText("ﾄﾞﾗﾑ");
    else if (c.programUse != PROGRAM_NONE)
      line += QString::number(c.program & 0x7F) +
              (c.programUse == PROGRAM_MIXED ? QStringLiteral("*") : QString());
    if (songStats.vibrationMask >> ch & 1) line += dialogText(" ﾊﾞｲﾌﾞ");
    if (songStats.ledMask >> ch & 1) line += QStringLiteral(" LED");
    lines << line;
  }
  return lines.join(QLatin1Char('\n'));
}

TableDialog* makePropertiesDialog(QWidget* parent) {
  Control report;
  report.id = 301;
  report.kind = Kind::Report;
  report.row = 0;
  report.col = 0;
  report.span = 2;
  return new PropertiesDialog({report, button(401, "更新", 1, 0)}, parent);
}
TableDialog* makeConversionDialog(QWidget* parent) {
  return new TableDialog(DLG_CONVERSION, "変換設定", conversionTable(), parent);
}
TableDialog* makeAboutDialog(QWidget* parent) {
  return new AboutDialog({staticText(301, "", 0, 0)}, parent);
}
TableDialog* makeMailDialog(QWidget* parent) {
  return new MailDialog(mailTable(), parent);
}
TableDialog* makeDetailsDialog(QWidget* parent) {
  return new TableDialog(DLG_DETAILS, "変換詳細設定(隠し機能)", detailsTable(), parent);
}
TableDialog* makeTextInfoDialog(QWidget* parent) {
  return new TextInfoDialog(textInfoTable(), parent);
}

}  // namespace vlm::dialogs
