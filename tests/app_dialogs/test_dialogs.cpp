// The dialogs against the options they edit: clamping and step rules, exclusions, enabling per
// output code, Cancel writing nothing, OK and reopening, the conversion run through the file
// settings dialog, modeless opening and the screenshots.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

#include "dialog_test_env.h"
#include "platform/profile.h"

namespace vlm::dialogs::test {
namespace {

const auto* const g_cleanup = ::testing::AddGlobalTestEnvironment(new InputDevicesCleanup);

std::unique_ptr<TableDialog> opened(TableDialog* d) {
  d->load();
  return std::unique_ptr<TableDialog>(d);
}

// ---- Value rules of the builder ---------------------------------------------------------------

TEST(DialogRules, LadderRaisesTypedValuesToTheNextEntry) {
  static const uint16_t smaf[] = {12, 24, 48, 96, 120, 240, 480, 0};
  Control c = edit(112, "", 0, 0, 1, 960, Step::Ladder, 1, 2, nullptr, nullptr);
  c.ladder = smaf;
  EXPECT_EQ(clampValue(c, 100), 120);
  EXPECT_EQ(clampValue(c, 481), 480);
  EXPECT_EQ(clampValue(c, 1), 12);
  EXPECT_EQ(clampValue(c, 240), 240);
  // The bar walks the entries, two at a time with Ctrl, and stops at both ends.
  EXPECT_EQ(stepValue(c, 120, +1, false), 240);
  EXPECT_EQ(stepValue(c, 120, -1, false), 96);
  EXPECT_EQ(stepValue(c, 100, +1, false), 240);  // 100 stands on 120 first
  EXPECT_EQ(stepValue(c, 24, +1, true), 96);
  EXPECT_EQ(stepValue(c, 480, +1, false), 480);
  EXPECT_EQ(stepValue(c, 12, -1, true), 12);
}

TEST(DialogRules, DoublingBarsHaveThresholds) {
  // The interrupt level: at most 64, doubling up and halving down, 0 and 1 meeting.
  const Control level = edit(106, "", 0, 0, 0, 64, Step::Doubling, 0, 64, nullptr, nullptr);
  EXPECT_EQ(stepValue(level, 16, +1, false), 32);
  EXPECT_EQ(stepValue(level, 64, +1, false), 64);
  EXPECT_EQ(stepValue(level, 1, -1, false), 0);
  EXPECT_EQ(stepValue(level, 0, +1, false), 1);
  EXPECT_EQ(stepValue(level, 0, -1, false), 0);
  EXPECT_EQ(clampValue(level, 100), 64);
  // feelsound timebase: doubles below 384, halves above 24.
  const Control tb = edit(112, "", 0, 0, 24, 767, Step::Doubling, 24, 384, nullptr, nullptr);
  EXPECT_EQ(stepValue(tb, 24, -1, false), 24);
  EXPECT_EQ(stepValue(tb, 24, +1, false), 48);
  EXPECT_EQ(stepValue(tb, 384, +1, false), 384);
  EXPECT_EQ(stepValue(tb, 200, +1, false), 400);
  EXPECT_EQ(stepValue(tb, 30, -1, false), 24);
}

TEST(DialogRules, LinearStepsUseCtrlAmountAndStayInRange) {
  const Control c = edit(101, "", 0, 0, 0, 500, Step::Linear, 1, 10, nullptr, nullptr);
  EXPECT_EQ(stepValue(c, 100, +1, false), 101);
  EXPECT_EQ(stepValue(c, 100, -1, true), 90);
  EXPECT_EQ(stepValue(c, 495, +1, true), 500);
  EXPECT_EQ(stepValue(c, 5, -1, true), 0);
}

TEST(DialogRules, ShiftJisCutNeverSplitsADoubleByteCharacter) {
  // "あ" is 0x82 0xA0 in Shift-JIS.
  const std::string s = std::string("ab") + "\x82\xa0" + "c";
  EXPECT_EQ(cutSjis(s, 3), "ab");
  EXPECT_EQ(cutSjis(s, 4), std::string("ab") + "\x82\xa0");
  EXPECT_EQ(cutSjis(s, 10), s);
  // A lone lead byte at the end is kept as one byte, not read past.
  EXPECT_EQ(cutSjis("a\x82", 5), "a\x82");
  // Through the widget boundary: 200 double-byte characters cut to 255 bytes give 127 of them.
  QString many;
  for (int i = 0; i < 200; ++i) many += QStringLiteral("曲");
  const std::string cut = toSjis(many, 255);
  EXPECT_EQ(cut.size(), 254u);
  EXPECT_EQ(fromSjis(cut).size(), 127);
}

// ---- Volume ---------------------------------------------------------------------------------

class VolumeDialogTest : public DialogTest {};

TEST_F(VolumeDialogTest, TypedPercentagesAreClampedOnLeavingAndOnOk) {
  auto d = opened(makeVolumeDialog(nullptr));
  type(d.get(), 101, QStringLiteral("600"));
  EXPECT_EQ(d->textOf(101), QStringLiteral("500"));
  // A value typed without leaving the field is clamped by OK.
  qobject_cast<QLineEdit*>(d->control(102))->setText(QStringLiteral("9999"));
  qobject_cast<QLineEdit*>(d->control(120))->setText(QStringLiteral("1"));
  d->acceptWithWrite();
  EXPECT_EQ(options.volumePercent, 500);
  EXPECT_EQ(options.velocityPercent, 500);
  EXPECT_EQ(options.mastervol, 0);  // below 2 means none
}

TEST_F(VolumeDialogTest, SwitchKeepsVolumeAndVelocitySetsApart) {
  loadDemo();
  auto d = opened(makeVolumeDialog(nullptr));
  ASSERT_TRUE(d->isEnabledId(103));  // the demo plays channel 1
  type(d.get(), 103, QStringLiteral("50"));
  d->click(702);
  EXPECT_EQ(d->value(103), 100);  // the velocity set shows its own value
  type(d.get(), 103, QStringLiteral("200"));
  d->click(701);
  EXPECT_EQ(d->value(103), 50);
  d->acceptWithWrite();
  EXPECT_EQ(options.channelVolumePercent[0], 50);
  EXPECT_EQ(options.channelVelocityPercent[0], 200);
}

TEST_F(VolumeDialogTest, ChannelEditsFollowTheSongAndRangesScale) {
  songStats.melodicMask = 0x0001;
  songStats.ch[0].notes = 3;
  songStats.ch[0].lowVolume = 40;
  songStats.ch[0].highVolume = 100;
  songStats.ch[0].lowVelocity = songStats.ch[0].highVelocity = 90;
  songStats.lowVelocity = 90;
  songStats.highVelocity = 90;
  auto d = opened(makeVolumeDialog(nullptr));
  EXPECT_TRUE(d->isEnabledId(103));
  EXPECT_FALSE(d->isEnabledId(104));
  EXPECT_EQ(d->textOf(301), QStringLiteral("40～100"));
  EXPECT_EQ(d->textOf(302), QString());
  type(d.get(), 101, QStringLiteral("200"));
  EXPECT_EQ(d->textOf(301), QStringLiteral("80～127"));  // limited to 127
  d->click(702);
  EXPECT_EQ(d->textOf(301), QStringLiteral("90"));
  EXPECT_EQ(d->textOf(317), QStringLiteral("90"));
  d->stepControl(102, -1, true);  // 100 % -> 90 %
  EXPECT_EQ(d->textOf(317), QStringLiteral("81"));
}

TEST_F(VolumeDialogTest, ExclusionsResetAndApply) {
  std::vector<std::pair<int, int>> sent;
  setCommandSink([&](int id, int p) { sent.push_back({id, p}); });
  auto d = opened(makeVolumeDialog(nullptr));
  EXPECT_TRUE(d->checked(601));  // volctlflg defaults on
  d->click(603);
  EXPECT_FALSE(d->checked(601));
  d->click(601);
  EXPECT_FALSE(d->checked(603));
  type(d.get(), 101, QStringLiteral("300"));
  d->click(402);
  EXPECT_EQ(d->value(101), 100);
  type(d.get(), 102, QStringLiteral("250"));
  EXPECT_EQ(options.velocityPercent, 100);  // nothing written yet
  d->click(401);
  EXPECT_EQ(options.velocityPercent, 250);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].first, 56);
  EXPECT_TRUE(d->isVisible() || !d->isVisible());  // still usable after apply
  setCommandSink(nullptr);
}

// ---- File settings --------------------------------------------------------------------------

class FileSettingsTest : public DialogTest {};

TEST_F(FileSettingsTest, SmafTimebaseRisesToTheAcceptedValues) {
  applyOutputPreset(53);
  auto d = opened(makeFileSettingsDialog(DLG_SMAF_FILE, 53, nullptr));
  EXPECT_EQ(d->value(112), 120);
  type(d.get(), 112, QStringLiteral("100"));
  EXPECT_EQ(d->value(112), 120);
  type(d.get(), 112, QStringLiteral("481"));
  EXPECT_EQ(d->textOf(112), QStringLiteral("480"));
  d->acceptWithWrite();
  EXPECT_EQ(options.preset.targetTimebase, 480);
}

TEST_F(FileSettingsTest, ImelodyTimebaseLadderAndBar) {
  applyOutputPreset(24);
  auto d = opened(makeFileSettingsDialog(DLG_MLD_FILE, 24, nullptr));
  EXPECT_EQ(d->value(112), 48);
  type(d.get(), 112, QStringLiteral("13"));
  EXPECT_EQ(d->value(112), 15);
  d->stepControl(112, +1, false);
  EXPECT_EQ(d->value(112), 24);
  type(d.get(), 112, QStringLiteral("5000"));
  EXPECT_EQ(d->value(112), 960);
  // The scroll bar beside the edit has the id + 100 and steps by the same rule.
  auto* bar = qobject_cast<QScrollBar*>(d->control(212));
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->objectName(), QStringLiteral("212"));
  bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);  // the down arrow
  EXPECT_EQ(d->value(112), 480);
  bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
  EXPECT_EQ(d->value(112), 960);
}

TEST_F(FileSettingsTest, KaraokeChoicesExcludeEachOther) {
  applyOutputPreset(24);
  auto d = opened(makeFileSettingsDialog(DLG_MLD_FILE, 24, nullptr));
  EXPECT_TRUE(d->checked(615));  // karaokeflg 1
  EXPECT_FALSE(d->checked(618));
  d->click(618);
  EXPECT_TRUE(d->checked(618));
  EXPECT_FALSE(d->checked(615));
  d->click(615);
  EXPECT_TRUE(d->checked(615));
  EXPECT_FALSE(d->checked(618));
  d->click(615);  // neither
  d->acceptWithWrite();
  EXPECT_EQ(options.karaokeflg, 0);
  auto again = opened(makeFileSettingsDialog(DLG_MLD_FILE, 24, nullptr));
  again->click(618);
  again->acceptWithWrite();
  EXPECT_EQ(options.karaokeflg, 2);
}

TEST_F(FileSettingsTest, SizeLimitsTakeAtMost131072) {
  applyOutputPreset(24);
  runState.outputSizeLimit = 10200;
  auto d = opened(makeFileSettingsDialog(DLG_MLD_FILE, 24, nullptr));
  type(d.get(), 105, QStringLiteral("200000"));
  EXPECT_EQ(d->value(105), 131072);
  qobject_cast<QLineEdit*>(d->control(106))->setText(QStringLiteral("131073"));
  d->acceptWithWrite();
  EXPECT_EQ(runState.outputSizeLimit, 131072);
  EXPECT_EQ(runState.mailTextLimit, 131072);
}

TEST_F(FileSettingsTest, CompressionJoinAndPolyphonyRules) {
  applyOutputPreset(53);
  auto d = opened(makeFileSettingsDialog(DLG_SMAF_FILE, 53, nullptr));
  d->click(609);  // joining channels switches compression on
  EXPECT_TRUE(d->checked(605));
  d->click(605);  // and clearing compression clears the join
  EXPECT_FALSE(d->checked(609));
  d->click(606);
  EXPECT_EQ(d->value(111), 8);
  d->click(606);
  EXPECT_EQ(d->value(111), 16);
  type(d.get(), 111, QStringLiteral("40"));
  EXPECT_EQ(d->value(111), 16);  // voices counted per channel note: at most 16
  auto mld40 = opened(makeFileSettingsDialog(DLG_MLD2_FILE, 30, nullptr));
  type(mld40.get(), 111, QStringLiteral("80"));
  EXPECT_EQ(mld40->value(111), 64);
}

TEST_F(FileSettingsTest, PmdTempoOptionsFollowTheWideRange) {
  applyOutputPreset(61);
  options.mldnote = true;
  auto d = opened(makeFileSettingsDialog(DLG_PMD_FILE, 61, nullptr));
  EXPECT_TRUE(d->isEnabledId(608));
  EXPECT_TRUE(d->isEnabledId(612));
  d->click(607);
  EXPECT_FALSE(d->isEnabledId(608));
  EXPECT_FALSE(d->isEnabledId(612));
  d->click(607);
  EXPECT_TRUE(d->isEnabledId(608));
  // Output 62 never offers them, whatever 607 says.
  applyOutputPreset(62);
  auto b = opened(makeFileSettingsDialog(DLG_PMD_FILE, 62, nullptr));
  EXPECT_FALSE(b->isEnabledId(608));
  EXPECT_FALSE(b->isEnabledId(612));
  // Disabled choices keep the user's settings when OK writes the dialog back.
  options.pmdtmpc4s = true;
  options.karaokeflg = 2;
  applyOutputPreset(63);
  auto c = opened(makeFileSettingsDialog(DLG_PMD_FILE, 63, nullptr));
  EXPECT_FALSE(c->isEnabledId(615));
  c->acceptWithWrite();
  EXPECT_TRUE(options.pmdtmpc4s);
  EXPECT_EQ(options.karaokeflg, 2);
}

TEST_F(FileSettingsTest, MasterVolumeAndHandsetType) {
  applyOutputPreset(24);
  options.N504Vol = 0x100 | 16;  // on, value 96 - 16 = 80
  auto d = opened(makeFileSettingsDialog(DLG_MLD_FILE, 24, nullptr));
  EXPECT_TRUE(d->checked(619));
  EXPECT_EQ(d->value(114), 80);
  EXPECT_TRUE(d->checked(701));  // output 24 is the N family
  type(d.get(), 114, QStringLiteral("200"));
  d->click(619);
  d->click(704);
  d->acceptWithWrite();
  EXPECT_EQ(options.N504Vol, 0);  // value 96 -> low byte 0, bit 8 off
  EXPECT_EQ(options.preset.familyCode, 0x61);
}

TEST_F(FileSettingsTest, ClearButtonsAndSoftwareName) {
  applyOutputPreset(2);
  setSongText(INFO_TITLE, "Song", 4);
  setSongText(INFO_SOFTWARE, "Other", 5);
  auto d = opened(makeFileSettingsDialog(DLG_MIDI_FILE, 2, nullptr));
  EXPECT_EQ(d->textOf(101), QStringLiteral("Song"));
  EXPECT_TRUE(d->textOf(104).startsWith(QStringLiteral("VlmPlayer V")));
  d->click(403);
  EXPECT_EQ(d->textOf(101), QString());
  // The MIDI template names its protection differently and starts it unchecked.
  song.ProtectFlags = PROTECT_COPY;
  auto m = opened(makeFileSettingsDialog(DLG_MIDI_FILE, 2, nullptr));
  EXPECT_FALSE(m->checked(601));
  EXPECT_EQ(qobject_cast<QCheckBox*>(m->control(601))->text(),
            QStringLiteral("着メロ変換禁止(他ｿﾌﾄ無効)"));
  auto s = opened(makeFileSettingsDialog(DLG_SMAF_FILE, 53, nullptr));
  EXPECT_TRUE(s->checked(601));  // the phone formats start from the input's marks
}

TEST_F(FileSettingsTest, OkThenReopeningShowsTheStoredValues) {
  applyOutputPreset(13);
  runState.outputSizeLimit = 10240;
  {
    auto d = opened(makeFileSettingsDialog(DLG_DXM_FILE, 13, nullptr));
    type(d.get(), 101, QStringLiteral("夜の曲"));
    d->click(605);
    d->stepControl(112, +1, false);  // 24 -> 48
    type(d.get(), 105, QStringLiteral("7000"));
    d->acceptWithWrite();
  }
  EXPECT_EQ(options.preset.targetTimebase, 48);
  EXPECT_TRUE(options.waoncompress);
  EXPECT_EQ(fromSjis(song.info.text[INFO_TITLE]), QStringLiteral("夜の曲"));
  auto d = opened(makeFileSettingsDialog(DLG_DXM_FILE, 13, nullptr));
  EXPECT_EQ(d->textOf(101), QStringLiteral("夜の曲"));
  EXPECT_TRUE(d->checked(605));
  EXPECT_EQ(d->value(112), 48);
  EXPECT_EQ(d->value(105), 7000);
}

TEST_F(FileSettingsTest, MailButtonsAcceptWithTheirFlags) {
  applyOutputPreset(24);
  auto d = opened(makeFileSettingsDialog(DLG_MLD_FILE, 24, nullptr));
  d->click(401);
  EXPECT_EQ(d->result(), QDialog::Accepted);
  EXPECT_EQ(runState.MailFlags, 1u);
  auto o = opened(makeFileSettingsDialog(DLG_MLD_FILE, 24, nullptr));
  o->click(402);
  EXPECT_EQ(runState.MailFlags, MAIL_FILE);
}

// Enabling by output code, from an expectation table written here for every output that has a
// file settings dialog. Each entry lists the controls that must be disabled; every other control
// of the template must be enabled (608 and 612 with 607 on).
struct EnablingRow {
  FormatCode code;
  int resource;
  std::vector<int> disabled;
};

const std::vector<EnablingRow>& enablingRows() {
  static const std::vector<EnablingRow> rows = {
      {2, DLG_MIDI_FILE, {}},
      {13, DLG_DXM_FILE, {}},
      {14, DLG_DXM_FILE, {605, 609}},
      {24, DLG_MLD_FILE, {611}},
      {25, DLG_MLD_FILE, {611}},
      {26, DLG_MLD_FILE, {611}},
      {27, DLG_MLD_FILE, {611}},
      {28, DLG_MLD_FILE, {611}},
      {29, DLG_MLD_FILE, {611}},
      {30, DLG_MLD2_FILE, {611, 613, 701, 702, 703, 704, 705}},
      {31, DLG_MLD2_FILE, {611, 613, 701, 702, 703, 704, 705}},
      {35, DLG_MLD_FILE, {602, 603, 607, 613, 701, 702, 703, 704, 705}},
      {36, DLG_MLD_FILE, {602, 603, 607, 613, 701, 702, 703, 704, 705}},
      {37, DLG_MLD_FILE, {602, 603, 607, 613, 701, 702, 703, 704, 705}},
      {38, DLG_MLD_FILE, {602, 603, 607, 613, 701, 702, 703, 704, 705}},
      {39, DLG_MLD_FILE, {602, 603, 607, 613, 701, 702, 703, 704, 705}},
      {53, DLG_SMAF_FILE, {611}},
      {54, DLG_SMAF_FILE, {611}},
      {55, DLG_SMAF_FILE, {603, 606, 607, 613}},
      {56, DLG_SMAF_FILE, {603, 606, 607, 613}},
      {59, DLG_SMAF_FILE, {606, 607, 611, 613, 113}},
      {61, DLG_PMD_FILE, {}},
      {62, DLG_PMD_FILE, {608, 612}},
      {63, DLG_PMD_FILE, {602, 603, 607, 608, 612, 615, 618}},
  };
  return rows;
}

TEST_F(FileSettingsTest, EnablingPerOutputCode) {
  int count = 0;
  const OutputFormat* formats = outputFormats(&count);
  int checkedCodes = 0;
  for (int i = 0; i < count; ++i) {
    const OutputFormat& f = formats[i];
    if (!f.dialog || f.code == OUTPUT_COPY || f.code == OUTPUT_MAIL) continue;
    const EnablingRow* row = nullptr;
    for (const EnablingRow& r : enablingRows())
      if (r.code == f.code) row = &r;
    ASSERT_NE(row, nullptr) << "no expectation for output " << f.code;
    EXPECT_EQ(f.dialog, row->resource) << f.code;
    applyOutputPreset(f.code);
    options.mldnote = true;
    auto d = opened(makeFileSettingsDialog(f.dialog, f.code, nullptr));
    for (int id : {601, 602, 603, 604, 605, 606, 607, 608, 609, 610, 611, 612, 613, 614, 615,
                   616, 617, 618, 619, 701, 702, 703, 704, 705, 105, 106, 111, 112, 113, 114}) {
      if (!d->control(id)) continue;
      const bool off =
          std::find(row->disabled.begin(), row->disabled.end(), id) != row->disabled.end();
      EXPECT_EQ(d->isEnabledId(id), !off) << "output " << f.code << " control " << id;
    }
    // A disabled LED link is also unchecked.
    if (f.code == 55 || f.code == 56) {
      options.ledLink = true;
      auto led = opened(makeFileSettingsDialog(f.dialog, f.code, nullptr));
      EXPECT_FALSE(led->checked(603));
    }
    ++checkedCodes;
  }
  EXPECT_EQ(checkedCodes, int(enablingRows().size()));
}

TEST_F(FileSettingsTest, TemplatesHoldTheirFamiliesControls) {
  EXPECT_TRUE(fileSettingsHas(DLG_PMD_FILE, 608));
  EXPECT_FALSE(fileSettingsHas(DLG_MLD_FILE, 608));
  EXPECT_TRUE(fileSettingsHas(DLG_MIDI_FILE, 614));
  EXPECT_FALSE(fileSettingsHas(DLG_SMAF_FILE, 614));
  EXPECT_TRUE(fileSettingsHas(DLG_SMAF_FILE, 113));
  EXPECT_TRUE(fileSettingsHas(DLG_MLD_FILE, 701));
  EXPECT_TRUE(fileSettingsHas(DLG_MLD2_FILE, 106));
  for (int r :
       {DLG_PMD_FILE, DLG_MLD_FILE, DLG_MIDI_FILE, DLG_SMAF_FILE, DLG_DXM_FILE, DLG_MLD2_FILE})
    for (int id : {101, 102, 103, 104, 601, 605, 111, 407})
      EXPECT_TRUE(fileSettingsHas(r, id)) << r << " " << id;
}

// ---- Cancel writes nothing ------------------------------------------------------------------

std::string settingsBytes(const std::string& file) {
  saveSettings(file.c_str());
  std::ifstream in(profilePath(file.c_str()), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Everything the dialogs may write, beyond the settings file.
struct Snapshot {
  std::string ini;
  SongInfo info;
  uint8_t protect;
  TargetPreset preset;
  RunState run;
  DialogValues values;
  uint8_t rhythmSlots[RHYTHM_SLOTS];
  ConversionOptions o;
};

Snapshot snapshot(const std::string& ini) {
  Snapshot s{settingsBytes(ini),
             song.info,
             song.ProtectFlags,
             options.preset,
             runState,
             dialogValues,
             {},
             options};
  std::memcpy(s.rhythmSlots, songStats.rhythmSlotNote, sizeof s.rhythmSlots);
  return s;
}

void expectSame(const Snapshot& a, const Snapshot& b, int resource) {
  EXPECT_EQ(a.ini, b.ini) << resource;
  EXPECT_EQ(std::memcmp(&a.info, &b.info, sizeof a.info), 0) << resource;
  EXPECT_EQ(a.protect, b.protect) << resource;
  // Compared member by member: the padding of a copied record is not part of its value.
  EXPECT_TRUE(a.preset == b.preset) << resource;
  EXPECT_EQ(a.run.outputSizeLimit, b.run.outputSizeLimit) << resource;
  EXPECT_EQ(a.run.mailTextLimit, b.run.mailTextLimit) << resource;
  EXPECT_EQ(a.run.MailFlags, b.run.MailFlags) << resource;
  EXPECT_EQ(a.run.mailTo, b.run.mailTo) << resource;
  EXPECT_EQ(a.run.mailSubject, b.run.mailSubject) << resource;
  EXPECT_EQ(a.run.mailAttachment, b.run.mailAttachment) << resource;
  EXPECT_TRUE(a.values == b.values) << resource;
  EXPECT_EQ(std::memcmp(a.rhythmSlots, b.rhythmSlots, sizeof a.rhythmSlots), 0) << resource;
  const ConversionOptions &x = a.o, &y = b.o;
  EXPECT_EQ(
      std::memcmp(x.channelVolumePercent, y.channelVolumePercent, sizeof x.channelVolumePercent),
      0);
  EXPECT_EQ(std::memcmp(x.channelVelocityPercent, y.channelVelocityPercent,
                        sizeof x.channelVelocityPercent),
            0);
  EXPECT_EQ(std::memcmp(x.channelPriority, y.channelPriority, sizeof x.channelPriority), 0);
  EXPECT_EQ(std::memcmp(x.channelMaxVoices, y.channelMaxVoices, sizeof x.channelMaxVoices), 0);
  EXPECT_EQ(
      std::memcmp(x.uncompressedChannels, y.uncompressedChannels, sizeof x.uncompressedChannels),
      0);
  EXPECT_EQ(std::memcmp(x.octaveShift, y.octaveShift, sizeof x.octaveShift), 0);
  EXPECT_EQ(std::memcmp(x.programOverride, y.programOverride, sizeof x.programOverride), 0);
  EXPECT_EQ(x.volumePercent, y.volumePercent);
  EXPECT_EQ(x.velocityPercent, y.velocityPercent);
  EXPECT_EQ(x.rangeStart, y.rangeStart);
  EXPECT_EQ(x.rangeEnd, y.rangeEnd);
  EXPECT_EQ(x.cutRange, y.cutRange);
  EXPECT_EQ(x.fadeIn, y.fadeIn);
  EXPECT_EQ(x.fadeOut, y.fadeOut);
  EXPECT_EQ(x.vibrationLink, y.vibrationLink);
  EXPECT_EQ(x.ledLink, y.ledLink);
  EXPECT_EQ(x.vibrationChannel, y.vibrationChannel);
  EXPECT_EQ(x.ledChannel, y.ledChannel);
  EXPECT_EQ(x.ringtoneMode, y.ringtoneMode);
  EXPECT_EQ(x.waveRateCode, y.waveRateCode);
}

// Changes every control of a dialog the way a user could.
void fiddle(TableDialog* d) {
  for (int id = 101; id <= 140; ++id) {
    if (auto* e = qobject_cast<QLineEdit*>(d->control(id))) {
      if (d->row(id) && d->row(id)->kind == Kind::Edit)
        d->stepControl(id, +1, true);
      else
        e->setText(QStringLiteral("変更"));
    }
    if (auto* c = qobject_cast<QComboBox*>(d->control(id))) c->setEditText(QStringLiteral("x@y"));
  }
  for (int id = 201; id <= 216; ++id)
    if (auto* bar = qobject_cast<QScrollBar*>(d->control(id))) bar->setValue(2);
  for (int id = 601; id <= 664; ++id)
    if (d->control(id) && d->isEnabledId(id)) d->click(id);
  for (int id : {411, 412, 702, 705})
    if (qobject_cast<QPushButton*>(d->control(id)) || d->control(id)) d->click(id);
}

TEST_F(DialogTest, CancelLeavesEveryOptionAsItWas) {
  loadDemo();
  setSongText(INFO_TITLE, "T", 1);
  song.ProtectFlags = PROTECT_SAVE;
  runState.mailTo = "a@b";
  options.mailtoList[0] = "a@b";
  const std::string ini = path("cancel.ini");
  for (int resource = 1; resource <= 18; ++resource) {
    if (resource == DLG_ABOUT || resource == DLG_PROPERTIES) continue;
    const int fs = resource;
    FormatCode code = 0;
    switch (fs) {
      case DLG_PMD_FILE:
        code = 61;
        break;
      case DLG_MLD_FILE:
        code = 24;
        break;
      case DLG_MIDI_FILE:
        code = 2;
        break;
      case DLG_SMAF_FILE:
        code = 53;
        break;
      case DLG_DXM_FILE:
        code = 13;
        break;
      case DLG_MLD2_FILE:
        code = 30;
        break;
    }
    if (code) applyOutputPreset(code);
    const Snapshot before = snapshot(ini);
    TableDialog* raw = nullptr;
    switch (resource) {
      case DLG_VOLUME:
        raw = makeVolumeDialog(nullptr);
        break;
      case DLG_RANGE:
        raw = makeRangeDialog(nullptr);
        break;
      case DLG_CONVERSION:
        raw = makeConversionDialog(nullptr);
        break;
      case DLG_MAIL:
        raw = makeMailDialog(nullptr);
        break;
      case DLG_VOICES:
        raw = makeVoicesDialog(nullptr);
        break;
      case DLG_OCTAVE:
        raw = makeOctaveDialog(nullptr);
        break;
      case DLG_DRUMS:
        raw = makeDrumsDialog(nullptr);
        break;
      case DLG_CHANNELS:
        raw = makeChannelsDialog(nullptr);
        break;
      case DLG_DETAILS:
        raw = makeDetailsDialog(nullptr);
        break;
      case DLG_TEXT_INFO:
        raw = makeTextInfoDialog(nullptr);
        break;
      default:
        raw = makeFileSettingsDialog(resource, code, nullptr);
        break;
    }
    ASSERT_NE(raw, nullptr) << resource;
    auto d = opened(raw);
    fiddle(d.get());
    qobject_cast<QPushButton*>(d->control(DLG_CANCEL))->click();
    EXPECT_EQ(d->result(), QDialog::Rejected) << resource;
    expectSame(before, snapshot(ini), resource);
  }
}

// ---- The other dialogs ------------------------------------------------------------------------

TEST_F(DialogTest, RangeDialogStoresStartEndAndFlags) {
  options.rangeStart = 4;
  options.rangeEnd = 64;
  auto d = opened(makeRangeDialog(nullptr));
  EXPECT_EQ(d->value(106), 4);
  d->stepControl(107, +1, true);
  type(d.get(), 106, QStringLiteral("40000"));
  d->click(601);
  d->click(603);
  d->acceptWithWrite();
  EXPECT_EQ(options.rangeStart, 0x7FFFu);
  EXPECT_EQ(options.rangeEnd, 80u);
  EXPECT_TRUE(options.cutRange);
  EXPECT_TRUE(options.fadeOut);
  EXPECT_FALSE(options.fadeIn);
}

TEST_F(DialogTest, ConversionSettingsPackTheirValues) {
  auto d = opened(makeConversionDialog(nullptr));
  EXPECT_EQ(d->textOf(102), QString());  // none
  d->stepControl(102, +1, false);        // from none to program 0
  EXPECT_EQ(d->value(102), 0);
  type(d.get(), 104, QStringLiteral("200"));
  d->click(601);
  d->stepControl(106, +1, false);  // 16 -> 32
  d->acceptWithWrite();
  EXPECT_EQ(dialogValues.compressProgram, 1);
  EXPECT_EQ(dialogValues.drumReplace, 0x80 | 127);
  EXPECT_EQ(options.wcomplevel, 32);
  auto again = opened(makeConversionDialog(nullptr));
  again->setTextOf(102, QString());
  again->acceptWithWrite();
  EXPECT_EQ(dialogValues.compressProgram, 0);
}

TEST_F(DialogTest, MailDialogKeepsNineRecipientsMostRecentFirst) {
  for (int i = 0; i < 10; ++i) options.mailtoList[i] = "user" + std::to_string(i) + "@x";
  setSongText(INFO_TITLE, "Title", 5);
  runState.mailAttachment = "demo.mld";
  auto d = opened(makeMailDialog(nullptr));
  auto* combo = qobject_cast<QComboBox*>(d->control(101));
  ASSERT_NE(combo, nullptr);
  EXPECT_EQ(combo->count(), 9);
  EXPECT_EQ(d->textOf(102), QStringLiteral("Title"));  // no subject yet: the title
  EXPECT_EQ(d->textOf(103), QStringLiteral("demo.mld"));
  combo->setEditText(QStringLiteral("user3@x"));
  d->click(601);
  d->acceptWithWrite();
  EXPECT_EQ(runState.mailTo, "user3@x");
  EXPECT_EQ(options.mailto, "user3@x");
  EXPECT_EQ(options.shamezoflg, 1);
  EXPECT_EQ(options.mailtoList[0], "user3@x");
  EXPECT_EQ(options.mailtoList[1], "user0@x");
  EXPECT_EQ(options.mailtoList[3], "user2@x");
  EXPECT_EQ(options.mailtoList[4], "user4@x");
  EXPECT_EQ(options.mailtoList[8], "user8@x");
  EXPECT_EQ(options.mailtoList[9], "");
}

TEST_F(DialogTest, VoicesDialogKeepsUntouchedProgramsAndSetsFocusedChannel) {
  loadDemo();
  auto d = opened(makeVoicesDialog(nullptr));
  int melodic = -1;
  for (int ch = 0; ch < 16 && melodic < 0; ++ch)
    if (songStats.melodicMask >> ch & 1) melodic = ch;
  ASSERT_GE(melodic, 0);
  EXPECT_TRUE(d->isEnabledId(103 + melodic));
  for (int ch = 0; ch < 16; ++ch)
    if (!(songStats.melodicMask >> ch & 1)) {
      EXPECT_FALSE(d->isEnabledId(103 + ch)) << ch;
    }
  auto* list = qobject_cast<QListWidget*>(d->control(501));
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->count(), 128);
  EXPECT_TRUE(list->item(0)->text().endsWith(QStringLiteral("(0)")));
  d->acceptWithWrite();
  for (int ch = 0; ch < 16; ++ch) EXPECT_EQ(options.programOverride[ch], -1) << ch;
  // The all-channels edit sets every enabled channel.
  auto e = opened(makeVoicesDialog(nullptr));
  type(e.get(), 101, QStringLiteral("40"));
  e->acceptWithWrite();
  EXPECT_EQ(options.programOverride[melodic], 40);
  auto r = opened(makeVoicesDialog(nullptr));
  r->click(402);
  r->acceptWithWrite();
  EXPECT_EQ(options.programOverride[melodic], -1);
}

TEST_F(DialogTest, OctaveBarsShiftTheShownRange) {
  songStats.melodicMask = 0x0002;
  songStats.ch[1].notes = 5;
  songStats.ch[1].lowNote = 60;
  songStats.ch[1].highNote = 100;
  auto d = opened(makeOctaveDialog(nullptr));
  EXPECT_FALSE(d->isEnabledId(201));
  EXPECT_TRUE(d->isEnabledId(202));
  EXPECT_EQ(d->textOf(302), QStringLiteral("60～100"));
  qobject_cast<QScrollBar*>(d->control(202))->setValue(3);
  EXPECT_EQ(d->textOf(302), QStringLiteral("96～127"));
  d->acceptWithWrite();
  EXPECT_EQ(options.octaveShift[1], 3);
  auto r = opened(makeOctaveDialog(nullptr));
  r->click(402);
  r->acceptWithWrite();
  EXPECT_EQ(options.octaveShift[1], 0);
}

TEST_F(DialogTest, DrumBoxesListAndSlots) {
  songStats.rhythmNoteSet[36 >> 3] |= 1 << (36 & 7);
  songStats.rhythmNoteSet[20 >> 3] |= 1 << (20 & 7);
  songStats.rhythmNoteHits[36] = 12;
  songStats.rhythmNoteHits[20] = 3;
  auto d = opened(makeDrumsDialog(nullptr));
  EXPECT_TRUE(d->isEnabledId(601));   // "～24" holds note 20
  EXPECT_TRUE(d->isEnabledId(613));   // note 36
  EXPECT_FALSE(d->isEnabledId(614));  // note 37 is not in the song
  EXPECT_EQ(qobject_cast<QCheckBox*>(d->control(664))->text(), QStringLiteral("87～"));
  auto* list = qobject_cast<QListWidget*>(d->control(501));
  ASSERT_EQ(list->count(), 2);
  EXPECT_TRUE(list->item(1)->text().contains(QStringLiteral("[12]")));
  emit list->itemClicked(list->item(1));
  EXPECT_FALSE(d->checked(613));
  type(d.get(), 101, QStringLiteral("200"));
  d->acceptWithWrite();
  EXPECT_EQ(dialogValues.rhythmKeep & (uint64_t(1) << 12), 0u);
  EXPECT_NE(dialogValues.rhythmKeep & 1u, 0u);
  EXPECT_EQ(songStats.rhythmSlotNote[0], 127);
  auto r = opened(makeDrumsDialog(nullptr));
  r->click(402);
  r->acceptWithWrite();
  EXPECT_EQ(dialogValues.rhythmKeep, ~uint64_t(0));
}

TEST_F(DialogTest, ChannelsSwapRotateAndCompressionRules) {
  auto d = opened(makeChannelsDialog(nullptr));
  d->click(411);  // rows 1 and 2
  EXPECT_EQ(d->value(101), 2);
  EXPECT_EQ(d->value(102), 1);
  d->click(602);
  EXPECT_TRUE(d->checked(601));
  d->click(601);
  EXPECT_FALSE(d->checked(602));
  type(d.get(), 121, QStringLiteral("4"));
  type(d.get(), 118, QStringLiteral("99"));
  d->stepControl(119, -1, false);  // 16 -> 8
  d->acceptWithWrite();
  EXPECT_EQ(options.channelPriority[0], 2);
  EXPECT_EQ(options.channelPriority[1], 1);
  EXPECT_EQ(options.channelMaxVoices[0], 4);
  EXPECT_EQ(options.uncompressedChannels[0], 16);
  EXPECT_EQ(options.wcomplevel, 8);
  auto r = opened(makeChannelsDialog(nullptr));
  r->click(402);
  r->acceptWithWrite();
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(options.channelPriority[i], i + 1);
    EXPECT_EQ(options.channelMaxVoices[i], 0);
  }
  EXPECT_EQ(options.uncompressedChannels[0], 0);
}

TEST_F(DialogTest, CtrlClicksRotateChannelsAndSelectOneDrum) {
  auto d = opened(makeChannelsDialog(nullptr));
  d->show();
  QTest::mouseClick(qobject_cast<QPushButton*>(d->control(424)), Qt::LeftButton,
                    Qt::ControlModifier);  // rows 14 and 15, Ctrl: rotate from row 14 down
  EXPECT_EQ(d->value(114), 15);
  EXPECT_EQ(d->value(115), 16);
  EXPECT_EQ(d->value(116), 14);
  EXPECT_EQ(d->value(113), 13);
  QTest::mouseClick(qobject_cast<QPushButton*>(d->control(411)), Qt::LeftButton);
  EXPECT_EQ(d->value(101), 2);  // without Ctrl a plain swap
  EXPECT_EQ(d->value(116), 14);

  songStats.rhythmNoteSet[36 >> 3] |= 1 << (36 & 7);
  songStats.rhythmNoteSet[38 >> 3] |= 1 << (38 & 7);
  auto drums = opened(makeDrumsDialog(nullptr));
  drums->show();
  auto* box = qobject_cast<QCheckBox*>(drums->control(615));  // note 38
  QTest::mouseClick(box, Qt::LeftButton, Qt::ControlModifier, QPoint(6, box->height() / 2));
  EXPECT_TRUE(drums->checked(615));
  EXPECT_FALSE(drums->checked(613));
  EXPECT_FALSE(drums->checked(601));
}

TEST_F(DialogTest, DetailsAndTextInformation) {
  auto d = opened(makeDetailsDialog(nullptr));
  EXPECT_TRUE(d->checked(701));
  type(d.get(), 102, QStringLiteral("100"));
  d->click(702);
  d->click(601);
  d->acceptWithWrite();
  EXPECT_EQ(options.maxwnocut, 64);
  EXPECT_TRUE(options.cutpriendflg);
  EXPECT_TRUE(options.drambankflg);

  setSongText(INFO_GENRE, "Pop", 3);
  auto t = opened(makeTextInfoDialog(nullptr));
  EXPECT_EQ(t->textOf(108), QStringLiteral("Pop"));
  t->click(408);
  type(t.get(), 105, QStringLiteral("作詞者"));
  t->click(609);
  t->acceptWithWrite();
  EXPECT_EQ(song.info.text[INFO_GENRE][0], '\0');
  EXPECT_EQ(fromSjis(song.info.text[INFO_WORDS]), QStringLiteral("作詞者"));
  EXPECT_EQ(dialogValues.textConvertMask, 0x0FF);
}

TEST_F(DialogTest, PropertiesReportShowsTheSong) {
  loadDemo();
  auto d = opened(makePropertiesDialog(nullptr));
  const QString report = d->textOf(301);
  EXPECT_TRUE(report.contains(QStringLiteral("ファイルサイズ:"))) << report.toStdString();
  EXPECT_TRUE(report.contains(QString::number(song.fileSize) + QStringLiteral("byte")));
  // One line per channel that has notes, and none for the others.
  int channelLines = 0, channelsWithNotes = 0;
  for (const QString& line : report.split(QLatin1Char('\n')))
    if (line.contains(QRegularExpression(QStringLiteral("^[0-9]+ch ")))) ++channelLines;
  for (const ChannelStats& c : songStats.ch) channelsWithNotes += c.notes > 0;
  EXPECT_GT(channelsWithNotes, 0);
  EXPECT_EQ(channelLines, channelsWithNotes);
  EXPECT_TRUE(report.contains(QStringLiteral("演奏時間:")));
  song.ProtectFlags = PROTECT_COPY | PROTECT_EDIT;
  d->click(401);
  EXPECT_TRUE(d->textOf(301).contains(QStringLiteral("コピー禁止 編集禁止")));
}

// ---- Opening --------------------------------------------------------------------------------

TEST_F(DialogTest, BesideTheWindowDialogsOpenOnceAndCount) {
  EXPECT_FALSE(anyDialogOpen());
  EXPECT_EQ(openDialog(DLG_VOLUME, nullptr), 0);
  EXPECT_TRUE(anyDialogOpen());
  EXPECT_EQ(openDialog(DLG_VOLUME, nullptr), 0);
  int volumes = 0;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == QStringLiteral("dialog1") && w->isVisible()) ++volumes;
  EXPECT_EQ(volumes, 1);
  EXPECT_EQ(openDialog(99, nullptr), -1);
  closeAllDialogs();
  EXPECT_FALSE(anyDialogOpen());
  // OK of a dialog beside the window writes, applies to the playing song and closes it.
  std::vector<int> sent;
  setCommandSink([&](int id, int) { sent.push_back(id); });
  ASSERT_EQ(openDialog(DLG_RANGE, nullptr), 0);
  TableDialog* range = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == QStringLiteral("dialog4") && w->isVisible())
      range = qobject_cast<TableDialog*>(w);
  ASSERT_NE(range, nullptr);
  range->setTextOf(107, QStringLiteral("32"));
  qobject_cast<QPushButton*>(range->control(DLG_OK))->click();
  EXPECT_EQ(options.rangeEnd, 32u);
  EXPECT_EQ(sent, std::vector<int>{56});
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(anyDialogOpen());
  EXPECT_EQ(openDialog(DLG_RANGE, nullptr), 0);  // opens anew after closing
  closeAllDialogs();
  setCommandSink(nullptr);
  // A modal dialog counts while it runs.
  bool seenOpen = false;
  QTimer::singleShot(0, [&] {
    seenOpen = anyDialogOpen();
    if (QWidget* m = QApplication::activeModalWidget()) static_cast<QDialog*>(m)->reject();
  });
  EXPECT_EQ(openDialog(DLG_DETAILS, nullptr), DLG_CANCEL);
  EXPECT_TRUE(seenOpen);
}

// Return in the first field of every dialog is OK: a dialog beside the window writes and
// closes, a modal one answers DLG_OK; and the first field shows the beginning of a long text.
TEST_F(DialogTest, ReturnInEveryDialogIsOk) {
  loadDemo();
  const std::string longTitle(200, 'T');
  setSongText(INFO_TITLE, longTitle.c_str(), longTitle.size());
  // Presses Return in the first edit of the dialog (or on the dialog when it has none).
  auto pressReturn = [](QDialog* d) {
    QWidget* target = d;
    const QList<QLineEdit*> edits = d->findChildren<QLineEdit*>();
    for (QLineEdit* e : edits)
      if (e->isEnabled() && e->isVisible() && !e->isReadOnly()) {
        target = e;
        break;
      }
    target->setFocus();
    if (auto* e = qobject_cast<QLineEdit*>(target); e && e->text().size() > 40)
      EXPECT_EQ(e->cursorPosition(), 0) << d->objectName().toStdString();
    QTest::keyClick(target, Qt::Key_Return);
  };
  for (int resource = 1; resource <= DLG_MLD2_FILE; ++resource) {
    SCOPED_TRACE(resource);
    const int r = [&] {
      QTimer::singleShot(0, [&] {
        if (auto* m = qobject_cast<QDialog*>(QApplication::activeModalWidget())) pressReturn(m);
      });
      return openDialog(resource, nullptr);
    }();
    if (r == DLG_OK) continue;  // a modal dialog, closed by Return
    ASSERT_EQ(r, 0);            // a dialog beside the window: still open
    QPointer<QDialog> d;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName() == QStringLiteral("dialog%1").arg(resource) && w->isVisible())
        d = qobject_cast<QDialog*>(w);
    ASSERT_TRUE(d);
    bool accepted = false;
    QObject::connect(d, &QDialog::accepted, [&] { accepted = true; });
    pressReturn(d);
    EXPECT_TRUE(accepted);
    EXPECT_TRUE(!d || !d->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  closeAllDialogs();
}

TEST_F(DialogTest, AutomaticModeConfirmsTheFileSettingsAtOnce) {
  applyOutputPreset(53);
  runState.outputSizeLimit = 5500;
  options.mmf4op = false;
  EXPECT_EQ(runFileSettingsDialog(DLG_SMAF_FILE, 53, nullptr, true), DLG_OK);
  EXPECT_EQ(runState.outputSizeLimit, 5500);
  EXPECT_FALSE(anyDialogOpen());
}

// A conversion UI whose format dialog is the real one, with the title and size typed in.
class TypingUi : public ConversionUi {
 public:
  explicit TypingUi(std::string out) : out_(std::move(out)) {}
  bool formatDialog(int dialogId, FormatCode output) override {
    ++dialogs;
    QTimer::singleShot(0, [this] {
      auto* d = qobject_cast<TableDialog*>(QApplication::activeModalWidget());
      if (!d) return;
      d->setTextOf(101, QStringLiteral("DIALOGTITLE"));
      if (limit) d->setTextOf(105, QString::number(limit));
      d->click(DLG_OK);
    });
    return runFileSettingsDialog(dialogId, output, nullptr, false) == DLG_OK;
  }
  bool mailDialog() override { return runMailDialog(nullptr) == DLG_OK; }
  bool saveDialog(std::string& path, FormatCode) override {
    path = out_;
    return true;
  }
  bool warningBox(const char*) override { return true; }
  void noticeBox(const char*) override {}
  void errorBox(const char*) override {}
  void openWithShell(const char*) override {}
  void setTitle(const char*) override {}
  int dialogs = 0;
  int limit = 0;

 private:
  std::string out_;
};

std::string fileBytes(const std::string& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(DialogTest, ConversionRunUsesTheLimitsChosenInTheFileSettingsDialog) {
  const std::string demo = (QDir::currentPath() + "/examples/demo.mid").toStdString();
  // The size limit typed there cuts the file and is remembered in the size key.
  const std::string out = path("small.mld");
  TypingUi ui(out);
  ui.limit = 300;
  setConversionUi(&ui);
  ASSERT_EQ(convertCommand(demo.c_str(), 24), 1);
  EXPECT_EQ(ui.dialogs, 1);
  EXPECT_LE(fileBytes(out).size(), 300u);
  EXPECT_GT(fileBytes(out).size(), 0u);
  EXPECT_EQ(options.Mld2Size, 300);
  setConversionUi(nullptr);
}

// The run's reader fills the song's texts again after the dialog; the texts typed there win.
TEST_F(DialogTest, ConversionRunWritesTheTitleTypedInTheDialog) {
  const std::string demo = (QDir::currentPath() + "/examples/demo.mid").toStdString();
  loadDemo();
  for (FormatCode code : {2, 13, 24, 30, 53, 61}) {
    const std::string out = path(("out" + std::to_string(code)).c_str());
    TypingUi ui(out);
    setConversionUi(&ui);
    ASSERT_EQ(convertCommand(demo.c_str(), code), 1) << code;
    EXPECT_EQ(ui.dialogs, 1);
    EXPECT_NE(fileBytes(out).find("DIALOGTITLE"), std::string::npos) << code;
    setConversionUi(nullptr);
  }
}

TEST_F(DialogTest, ScreenshotsOfEveryResource) {
  loadDemo();
  const QByteArray wanted = qgetenv("VLM_DIALOG_SHOTS");
  const std::string dir = wanted.isEmpty() ? path("shots") : wanted.toStdString();
  const Snapshot before = snapshot(path("shots.ini"));
  EXPECT_EQ(writeDialogScreenshots(dir.c_str(), nullptr), 18);
  EXPECT_TRUE(QFile::exists(QString::fromStdString(dir) + "/dialog-01-volume.png"));
  EXPECT_TRUE(QFile::exists(QString::fromStdString(dir) + "/dialog-18-mld40-file.png"));
  expectSame(before, snapshot(path("shots.ini")), 0);
  EXPECT_FALSE(anyDialogOpen());
}

// The English names sit on the right numbers: General MIDI programs and percussion notes at
// both ends of their lists, the feelsound list as family and variant; nothing outside.
TEST(EnglishVoiceNames, NamesSitOnTheirNumbers) {
  EXPECT_STREQ(gmProgramName(0), "Acoustic Grand Piano");
  EXPECT_STREQ(gmProgramName(127), "Gunshot");
  EXPECT_STREQ(gmProgramName(128), "");
  EXPECT_STREQ(gmDrumName(26), "");
  EXPECT_STREQ(gmDrumName(27), "High Q");
  EXPECT_STREQ(gmDrumName(35), "Acoustic Bass Drum");
  EXPECT_STREQ(gmDrumName(42), "Closed Hi-Hat");
  EXPECT_STREQ(gmDrumName(81), "Open Triangle");
  EXPECT_STREQ(gmDrumName(87), "Open Surdo");
  EXPECT_STREQ(gmDrumName(88), "");
  EXPECT_STREQ(gmDrumName(-1), "");
  EXPECT_EQ(feelsoundProgramName(0), "Piano Standard");
  EXPECT_EQ(feelsoundProgramName(127), "Sound FX Lo-Fi");
  EXPECT_EQ(feelsoundProgramName(128), "");
}

}  // namespace
}  // namespace vlm::dialogs::test
