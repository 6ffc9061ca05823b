// The file settings dialog of an output before a conversion saves: one table for the six
// templates (PMD, MLD, MIDI, SMAF, DXM, 40-voice MLD), each row marked with the templates that
// hold it, and one procedure for the rules between controls. What a control enables follows
// what the output's handset lacks (the traits of its row in the format table).
#include <QCheckBox>

#include "app/dialogs/dialog_procs.h"
#include "convert/conversion_run.h"
#include "convert/format_table.h"
#include "core/vstream.h"

namespace vlm::dialogs {

namespace {

enum : unsigned {
  T_PMD = 1u << 0,   // resource 2
  T_MLD = 1u << 1,   // resource 9
  T_MIDI = 1u << 2,  // resource 10
  T_SMAF = 1u << 3,  // resource 11
  T_DXM = 1u << 4,   // resource 12
  T_MLD2 = 1u << 5,  // resource 18
  T_ALL = 0x3F,
  T_PHONE = T_PMD | T_MLD | T_SMAF | T_MLD2,
  T_IMEL = T_MLD | T_MLD2,
};

unsigned templateBit(int resource) {
  switch (resource) {
    case DLG_PMD_FILE:
      return T_PMD;
    case DLG_MLD_FILE:
      return T_MLD;
    case DLG_MIDI_FILE:
      return T_MIDI;
    case DLG_SMAF_FILE:
      return T_SMAF;
    case DLG_DXM_FILE:
      return T_DXM;
    case DLG_MLD2_FILE:
      return T_MLD2;
  }
  return 0;
}

const char* fileCaption(int resource) {
  switch (resource) {
    case DLG_PMD_FILE:
      return "PMDファイル設定";
    case DLG_MIDI_FILE:
      return "MIDIファイル設定";
    case DLG_SMAF_FILE:
      return "SMAFファイル設定";
    case DLG_DXM_FILE:
      return "DXMファイル設定";
    default:
      return "MLDファイル設定";
  }
}

// Timebases that the i-melody and PMD writers and the SMAF writers accept.
constexpr uint16_t MLD_TIMEBASES[] = {6,   12,  15,  24,  30,  48,  60, 96,
                                      120, 192, 240, 384, 480, 960, 0};
constexpr uint16_t SMAF_TIMEBASES[] = {12, 24, 48, 96, 120, 240, 480, 0};

constexpr int MAX_SIZE_LIMIT = 0x20000;
constexpr int N504_VOLUME_BIT = 0x100;
constexpr int N504_VOLUME_TOP = 96;

#define OPT(f) [] { return int(options.f); }, [](int v) { options.f = decltype(options.f)(v); }
#define PRESET(f)                       \
  [] { return int(options.preset.f); }, \
      [](int v) { options.preset.f = decltype(options.preset.f)(v); }
#define PROTECT(bit)                                                                             \
  [] { return (song.ProtectFlags & (bit)) ? 1 : 0; }, [](int v) {                                \
    song.ProtectFlags = uint8_t(v ? (song.ProtectFlags | (bit)) : (song.ProtectFlags & ~(bit))); \
  }
#define SONG_TEXT(field)                             \
  [] { return std::string(song.info.text[field]); }, \
      [](const std::string& s) { setSongText(field, s.data(), s.size()); }

struct FileRow {
  unsigned templates;
  Control c;
};

Control inPane(Control c, int pane) {
  c.pane = pane;
  return c;
}

Control sized(Control c, int width) {
  c.width = width;
  return c;
}

// Layout: the texts with their clear buttons on top; below them the check boxes (pane 1, with
// their channel or value edit in column 1) beside the numbers, radios and buttons (pane 2).
const std::vector<FileRow>& fileRows() {
  static const std::vector<FileRow> rows = {
      {T_ALL, text(101, "曲名", 0, 0, 1, 255, SONG_TEXT(INFO_TITLE))},
      {T_ALL, button(403, "消", 0, 1)},
      {T_ALL, text(102, "歌手名", 1, 0, 1, 255, SONG_TEXT(INFO_ARTIST))},
      {T_ALL, button(404, "消", 1, 1)},
      {T_ALL, text(103, "著作権", 2, 0, 1, 255, SONG_TEXT(INFO_COPYRIGHT))},
      {T_ALL, button(405, "消", 2, 1)},
      {T_ALL, text(104, "ｿﾌﾄ名", 3, 0, 1, 255, SONG_TEXT(INFO_SOFTWARE))},
      {T_ALL, button(406, "消", 3, 1)},

      {T_ALL, inPane(check(601, "コピー禁止(転送不可)", 4, 0, PROTECT(PROTECT_COPY), 2), 1)},
      {T_PHONE, inPane(check(616, "保存禁止", 5, 0, PROTECT(PROTECT_SAVE), 2), 1)},
      {T_PHONE, inPane(check(617, "編集禁止", 6, 0, PROTECT(PROTECT_EDIT), 2), 1)},
      {T_PHONE, inPane(check(602, "バイブ連動", 7, 0, OPT(vibrationLink)), 1)},
      {T_PHONE,
       inPane(sized(edit(107, "ch", 7, 1, 1, 16, Step::Linear, 1, 4, OPT(vibrationChannel)), 2),
              1)},
      {T_PHONE, inPane(check(603, "LED連動", 8, 0, OPT(ledLink)), 1)},
      {T_PHONE,
       inPane(sized(edit(110, "ch", 8, 1, 1, 16, Step::Linear, 1, 4, OPT(ledChannel)), 2), 1)},
      {T_PMD | T_IMEL, inPane(check(604, "ﾀﾞｳﾝﾛｰﾄﾞ用CRC付加", 9, 0, OPT(dlcrc), 2), 1)},
      {T_ALL, inPane(check(605, "和音数圧縮する", 10, 0, OPT(waoncompress), 2), 1)},
      {T_SMAF, inPane(check(606, "高音質8和音(16和音)", 11, 0, OPT(mmf4op), 2), 1)},
      {T_PMD | T_IMEL | T_SMAF,
       inPane(check(607, "音域拡大+音力有効(16和音)", 12, 0, OPT(mldnote), 2), 1)},
      {T_PMD, inPane(check(608, "ﾃﾝﾎﾟ変更補正(C4xxS)", 13, 0, OPT(pmdtmpc4s), 2), 1)},
      {T_ALL & ~T_MIDI,
       inPane(check(609, "同じ音色のﾁｬﾝﾈﾙを結合する", 14, 0, OPT(dxmmldmix), 2), 1)},
      {T_PMD, inPane(check(610, "ﾌｫｰﾏｯﾄ0で作成(C309H)", 15, 0, OPT(pmdfmt0), 2), 1)},
      {T_IMEL | T_SMAF,
       inPane(check(611, "4和音用音色ｴｸｽｸﾙｰｼﾌﾞ出力", 16, 0, PRESET(voiceParamExclusive), 2), 1)},
      {T_PMD, inPane(check(612, "先頭16分音符付加(もたれ防止)", 17, 0, OPT(pmdtopplus), 2), 1)},
      {T_IMEL | T_SMAF, inPane(check(
                                   613, "WAV→着声高音質(8KHz)", 18, 0,
                                   [] { return options.waveRateCode == 1 ? 1 : 0; },
                                   [](int v) { options.waveRateCode = v ? 1 : 0; }, 2),
                               1)},
      {T_MIDI, inPane(check(614, "着信音ﾓｰﾄﾞ(無効ﾃﾞｰﾀ削除)", 19, 0, OPT(ringtoneMode), 2), 1)},
      // karaokeflg 1 or 2; the procedure writes 0 when neither is checked.
      {T_PMD | T_IMEL, inPane(check(
                                  615, "ｶﾗｵｹ専用", 20, 0,
                                  [] { return options.karaokeflg == 1 ? 1 : 0; }, nullptr, 2),
                              1)},
      {T_PMD | T_IMEL, inPane(check(
                                  618, "着信音兼用", 21, 0,
                                  [] { return options.karaokeflg == 2 ? 1 : 0; }, nullptr, 2),
                              1)},
      {T_PMD | T_IMEL, inPane(check(
                                  619, "ﾏｽﾀｰ音量(N/SO)", 22, 0,
                                  [] { return (options.N504Vol & N504_VOLUME_BIT) ? 1 : 0; },
                                  [](int v) {
                                    options.N504Vol = v ? (options.N504Vol | N504_VOLUME_BIT)
                                                        : (options.N504Vol & ~N504_VOLUME_BIT);
                                  }),
                              1)},
      {T_PMD | T_IMEL, inPane(sized(edit(
                                        114, "", 22, 1, 0, N504_VOLUME_TOP, Step::Linear, 1, 8,
                                        [] {
                                          return N504_VOLUME_TOP -
                                                 std::min(N504_VOLUME_TOP, options.N504Vol & 0xFF);
                                        },
                                        [](int v) {
                                          options.N504Vol = (options.N504Vol & ~0xFF) |
                                                            ((N504_VOLUME_TOP - v) & 0xFF);
                                        }),
                                    2),
                              1)},

      {T_ALL & ~T_MIDI,
       inPane(edit(
                  105, "変換後最大ｻｲｽﾞ(byte)", 4, 2, 0, MAX_SIZE_LIMIT, Step::Linear, 100, 1000,
                  [] { return int(runState.outputSizeLimit); },
                  [](int v) { runState.outputSizeLimit = v; }),
              2)},
      {T_IMEL, inPane(edit(
                          106, "ﾒｰﾙ用変換ｻｲｽﾞ(byte)", 5, 2, 0, MAX_SIZE_LIMIT, Step::Linear, 10,
                          100, [] { return int(runState.mailTextLimit); },
                          [](int v) { runState.mailTextLimit = v; }),
                      2)},
      // 0 keeps the output's own polyphony.
      {T_ALL, inPane(edit(
                         111, "最大和音数", 6, 2, 0, 64, Step::Linear, 1, 4,
                         [] { return int(options.preset.polyphony); },
                         [](int v) {
                           if (v > 0) options.preset.polyphony = uint8_t(v);
                         }),
                     2)},
      {T_ALL & ~T_MIDI,
       inPane(edit(112, "ﾀｲﾑﾍﾞｰｽ", 7, 2, 1, 960, Step::Ladder, 1, 2, PRESET(targetTimebase)), 2)},
      {T_SMAF,
       inPane(edit(113, "ｶﾗｵｹ1行字数(16和音)", 8, 2, 0, 32, Step::Linear, 2, 2, OPT(kclen)), 2)},
      {T_IMEL, inPane(radio(701, "N", 9, 2, 1, 0x11, PRESET(familyCode)), 2)},
      {T_IMEL, inPane(radio(702, "F", 10, 2, 1, 0x21, PRESET(familyCode)), 2)},
      {T_IMEL, inPane(radio(703, "SO", 11, 2, 1, 0x31, PRESET(familyCode)), 2)},
      {T_IMEL, inPane(radio(704, "D", 12, 2, 1, 0x61, PRESET(familyCode)), 2)},
      {T_IMEL, inPane(radio(705, "その他", 13, 2, 1, 0, PRESET(familyCode)), 2)},
      {T_IMEL, inPane(button(401, "ﾄﾞｺﾓ ﾒﾛﾃﾞｨﾒｰﾙ", 15, 2), 2)},
      {T_PHONE | T_DXM, inPane(button(402, "Outlook送信", 16, 2), 2)},
      {T_ALL, inPane(button(407, "ﾁｬﾝﾈﾙ設定", 17, 2), 2)},
  };
  return rows;
}

#undef OPT
#undef PRESET
#undef PROTECT
#undef SONG_TEXT

// Whether the output's handset lacks any of `traits` (OUT_NO_*).
bool lacks(FormatCode c, uint32_t traits) {
  return hasOutputTrait(c, traits);
}

// Outputs whose voices are counted per channel note: the handsets that split chords over
// one-voice channels.
bool perChannelVoices(FormatCode c) {
  const OutputFormat* format = findOutputFormat(c);
  return format && format->preset.oneVoicePerChannel;
}

class FileSettingsDialog : public TableDialog {
 public:
  FileSettingsDialog(int resource, FormatCode code, std::vector<Control> table, QWidget* parent)
      : TableDialog(resource, fileCaption(resource), std::move(table), parent), code_(code) {}

 protected:
  void init() override {
    if (resource() == DLG_MIDI_FILE) {
      setLabel(601, QStringLiteral("着メロ変換禁止(他ｿﾌﾄ無効)"));
      setChecked(601, false);  // the MIDI file's mark does not come from the input
    }
    if (resource() == DLG_SMAF_FILE) {
      setLabel(607, QStringLiteral("音力有効(16和音)"));
      setLabel(112, QStringLiteral("擬似ﾀｲﾑﾍﾞｰｽ"));
    }
    if (resource() == DLG_DXM_FILE) setLabel(112, QStringLiteral("擬似ﾀｲﾑﾍﾞｰｽ"));
    setTextOf(104, QStringLiteral("VlmPlayer V" VLM_VERSION));
    // The vibration and LED channels start at 1 each time.
    setValue(107, 1);
    setValue(110, 1);
    if (lacks(code_, OUT_NO_LED)) setChecked(603, false);
    for (int id :
         {601, 602, 603, 604, 605, 606, 607, 608, 609, 610, 611, 612, 613, 614, 615, 616, 617, 618,
          619, 701, 702, 703, 704, 705, 105, 106, 111, 112, 113, 114, 107, 110, 401, 402, 407})
      if (control(id)) enable(id, fileSettingsEnabled(id, code_, checked(607)));
    followVibration();
  }

  void command(int id) override {
    switch (id) {
      case 403:
      case 404:
      case 405:
      case 406:
        setTextOf(id - 302, QString());
        break;
      case 605:
        if (!checked(605)) setChecked(609, false);
        break;
      case 609:
        if (checked(609)) setChecked(605, true);
        break;
      case 606:
        if (isEnabledId(606)) setValue(111, 16 - 8 * (checked(606) ? 1 : 0));
        break;
      case 607:
        enable(608, fileSettingsEnabled(608, code_, checked(607)));
        enable(612, fileSettingsEnabled(612, code_, checked(607)));
        break;
      case 615:
        if (checked(615)) setChecked(618, false);
        break;
      case 618:
        if (checked(618)) setChecked(615, false);
        break;
      case 602:
      case 603:
        followVibration();
        break;
      case 401:
        runState.MailFlags = 1;
        acceptWithWrite();
        break;
      case 402:
        runState.MailFlags = MAIL_FILE;
        acceptWithWrite();
        break;
      case 407:
        if (TableDialog* d = makeChannelsDialog(this)) {
          d->load();
          d->exec();
          delete d;
        }
        break;
    }
  }

  void store() override {
    // Where the karaoke choice is disabled the setting stays as it was.
    if ((control(615) || control(618)) && isEnabledId(615))
      options.karaokeflg = checked(615) ? 1 : checked(618) ? 2 : 0;
    // The conversion writes these texts and marks, not the ones its reader finds again.
    runState.keepSongRecord = true;
    // Options that only some outputs have stay as they were where the control was disabled.
  }

 private:
  // The channel edits follow their check boxes.
  void followVibration() {
    if (control(107)) enable(107, isEnabledId(602) && checked(602));
    if (control(110)) enable(110, isEnabledId(603) && checked(603));
  }

  FormatCode code_;
};

}  // namespace

int fileSettingsResource(FormatCode code) {
  const OutputFormat* f = findOutputFormat(code);
  return f ? f->dialog : 0;
}

bool fileSettingsHas(int resource, int id) {
  const unsigned bit = templateBit(resource);
  for (const FileRow& r : fileRows())
    if (r.c.id == id && (r.templates & bit)) return true;
  return false;
}

int fileSettingsMaxPolyphony(FormatCode code) {
  return perChannelVoices(code) ? 16 : 64;
}

bool fileSettingsEnabled(int id, FormatCode c, bool noteOn) {
  if (!fileSettingsHas(fileSettingsResource(c), id)) return false;
  switch (id) {
    case 602:
      return !lacks(c, OUT_NO_VIBRATION_LED);
    case 603:
      return !lacks(c, OUT_NO_VIBRATION_LED | OUT_NO_LED);
    case 605:
    case 609:
      return !lacks(c, OUT_NO_COMPRESSION);
    case 606:
      return !lacks(c, OUT_NO_HIGH_QUALITY);
    case 607:
      return !lacks(c, OUT_NO_WIDE_NOTES);
    case 608:
    case 612:
      return hasOutputTrait(c, OUT_TEMPO_FIXES) && noteOn;
    case 611:
      return !lacks(c, OUT_NO_VOICE_EXCLUSIVE);
    case 613:
      return !lacks(c, OUT_NO_WAVE_QUALITY);
    case 615:
    case 618:
      return !lacks(c, OUT_NO_KARAOKE);
    case 701:
    case 702:
    case 703:
    case 704:
    case 705:
      return !lacks(c, OUT_NO_HANDSET_TYPE);
    case 113:
      return !lacks(c, OUT_NO_KARAOKE_LINE);
    default:
      return true;
  }
}

TableDialog* makeFileSettingsDialog(int resource, FormatCode code, QWidget* parent) {
  const unsigned bit = templateBit(resource);
  if (!bit) return nullptr;
  std::vector<Control> table;
  for (const FileRow& r : fileRows()) {
    if (!(r.templates & bit)) continue;
    Control c = r.c;
    if (c.id == 111) c.max = fileSettingsMaxPolyphony(code);
    if (c.id == 112) {
      if (bit & (T_PMD | T_IMEL)) {
        c.ladder = MLD_TIMEBASES;
      } else if (bit & T_SMAF) {
        c.ladder = SMAF_TIMEBASES;
      } else {
        // feelsound: the bar doubles below 384 and halves above 24.
        c.step = Step::Doubling;
        c.min = 24;
        c.max = 767;
        c.stepSmall = 24;
        c.stepCtrl = 384;
      }
    }
    table.push_back(c);
  }
  return new FileSettingsDialog(resource, code, std::move(table), parent);
}

}  // namespace vlm::dialogs
