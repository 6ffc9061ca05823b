// The dialogs that stay open beside the main window while the song plays: volume, range,
// voices, octave, drums and channels. "適用" writes back and has the playing song re-prepared.
#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QScrollBar>
#include <algorithm>

#include "app/dialogs/dialog_procs.h"
#include "core/vstream.h"

#if __has_include("app/voice_names.h")
#include "app/voice_names.h"
#define VLM_HAVE_VOICE_NAMES 1
#endif

namespace vlm::dialogs {

namespace {

constexpr int APPLY = 401;
constexpr int RESET = 402;
constexpr int COMMAND_REPREPARE = 56;
constexpr int PERCENT_MAX = 500;

#define OPT(f) [] { return int(options.f); }, [](int v) { options.f = decltype(options.f)(v); }

const char* const CHANNEL_LABELS[16] = {"1ch",  "2ch",  "3ch",  "4ch",  "5ch",  "6ch",
                                        "7ch",  "8ch",  "9ch",  "10ch", "11ch", "12ch",
                                        "13ch", "14ch", "15ch", "16ch"};

bool channelHasNotes(int ch) {
  return ((songStats.melodicMask | songStats.rhythmMask) >> ch & 1) || songStats.ch[ch].notes > 0;
}
bool channelIsMelodic(int ch) {
  return (songStats.melodicMask >> ch & 1) != 0;
}

QString rangeText(int lo, int hi) {
  if (lo == hi) return QString::number(lo);
  return dialogText("%1～%2").arg(lo).arg(hi);
}

int scaled(int v, int globalPercent, int channelPercent) {
  return std::min(127, int(int64_t(v) * globalPercent * channelPercent / 10000));
}

// A dialog of the playing song: "適用" writes back and re-prepares playback.
class PlayingDialog : public TableDialog {
 public:
  using TableDialog::TableDialog;

 protected:
  void command(int id) override {
    if (id == APPLY) {
      writeBack();
      sendCommand(COMMAND_REPREPARE, 0);
    } else {
      playingCommand(id);
    }
  }
  virtual void playingCommand(int) {}
  // OK beside the window applies as well: the song playing takes the new values at once. Opened
  // modally (from a file settings dialog) it only writes.
  void done(int r) override {
    const bool apply = r == QDialog::Accepted && !isModal();
    TableDialog::done(r);
    if (apply) sendCommand(COMMAND_REPREPARE, 0);
  }
};

// ---- Volume ---------------------------------------------------------------------------------

class VolumeDialog : public PlayingDialog {
 public:
  VolumeDialog(std::vector<Control> t, QWidget* parent)
      : PlayingDialog(DLG_VOLUME, "音量の指定", std::move(t), parent) {}

 protected:
  void init() override {
    std::copy(std::begin(options.channelVolumePercent), std::end(options.channelVolumePercent),
              volume_);
    std::copy(std::begin(options.channelVelocityPercent), std::end(options.channelVelocityPercent),
              velocity_);
    velocityShown_ = false;
    setChecked(701, true);
    showChannels();
    for (int ch = 0; ch < 16; ++ch) enable(103 + ch, channelHasNotes(ch));
    refresh();
  }

  void playingCommand(int id) override {
    switch (id) {
      case 701:
      case 702:
        keepChannels();
        velocityShown_ = (id == 702);
        showChannels();
        refresh();
        break;
      case 601:
        if (checked(601)) setChecked(603, false);
        break;
      case 603:
        if (checked(603)) setChecked(601, false);
        break;
      case RESET:
        std::fill(std::begin(volume_), std::end(volume_), 100);
        std::fill(std::begin(velocity_), std::end(velocity_), 100);
        setValue(101, 100);
        setValue(102, 100);
        setValue(120, 0);
        showChannels();
        refresh();
        break;
    }
  }

  void valueChanged(int) override { refresh(); }

  void store() override {
    keepChannels();
    std::copy(std::begin(volume_), std::end(volume_), options.channelVolumePercent);
    std::copy(std::begin(velocity_), std::end(velocity_), options.channelVelocityPercent);
  }

 private:
  void keepChannels() {
    int* target = velocityShown_ ? velocity_ : volume_;
    for (int ch = 0; ch < 16; ++ch) target[ch] = value(103 + ch);
  }
  void showChannels() {
    const int* source = velocityShown_ ? velocity_ : volume_;
    for (int ch = 0; ch < 16; ++ch) setValue(103 + ch, source[ch]);
  }
  void refresh() {
    for (int ch = 0; ch < 16; ++ch)
      setTextOf(301 + ch, volumeRangeText(ch, velocityShown_, value(velocityShown_ ? 102 : 101),
                                          value(103 + ch)));
    setTextOf(317, volumeRangeText(16, true, value(102), 100));
  }

  bool velocityShown_ = false;
  int volume_[16] = {};
  int velocity_[16] = {};
};

std::vector<Control> volumeTable() {
  std::vector<Control> t = {
      edit(101, "音量", 0, 0, 0, PERCENT_MAX, Step::Linear, 1, 10, OPT(volumePercent)),
      edit(102, "音力(ﾍﾞﾛｼﾃｨ)", 0, 2, 0, PERCENT_MAX, Step::Linear, 1, 10, OPT(velocityPercent)),
      edit(
          120, "ﾏｽﾀｰ音量", 1, 0, 0, 127, Step::Linear, 1, 9, [] { return options.mastervol; },
          [](int v) { options.mastervol = v < 2 ? 0 : v; }),
      radio(701, "音量", 1, 2, 1, 0, nullptr, nullptr),
      radio(702, "音力", 1, 3, 1, 1, nullptr, nullptr),
  };
  for (int ch = 0; ch < 16; ++ch) {
    const int row = 2 + ch % 8, col = ch < 8 ? 0 : 2;
    t.push_back(edit(103 + ch, CHANNEL_LABELS[ch], row, col, 0, PERCENT_MAX, Step::Linear, 1, 10,
                     nullptr, nullptr));
    t.push_back(staticText(301 + ch, "", row, col + 1));
  }
  t.push_back(caption("音力(全ch)", 10, 0));
  t.push_back(staticText(317, "", 10, 1));
  t.push_back(check(601, "音量の途中変更有効", 11, 0, OPT(volctlflg), 4));
  t.push_back(check(603, "音量変化分を音力に置換(音量途中変更無効時)", 12, 0, OPT(voltovelflg), 4));
  t.push_back(button(RESET, "ﾘｾｯﾄ", 13, 0));
  t.push_back(button(APPLY, "適用", 13, 1));
  return t;
}

// ---- Range ----------------------------------------------------------------------------------

class RangeDialog : public PlayingDialog {
 public:
  RangeDialog(std::vector<Control> t, QWidget* parent)
      : PlayingDialog(DLG_RANGE, "再生・変換範囲指定", std::move(t), parent) {}
};

std::vector<Control> rangeTable() {
  return {
      edit(106, "開始", 0, 0, 0, 0x7FFF, Step::Linear, 1, 16, OPT(rangeStart)),
      edit(107, "終了", 0, 1, 0, 0x7FFF, Step::Linear, 1, 16, OPT(rangeEnd)),
      check(601, "指定範囲をカット(中抜き)する", 1, 0, OPT(cutRange), 2),
      check(602, "フェイドイン(開始から)", 2, 0, OPT(fadeIn), 2),
      check(603, "フェイドアウト(終了まで)", 3, 0, OPT(fadeOut), 2),
      button(APPLY, "適用", 4, 0),
  };
}

// ---- Voices ---------------------------------------------------------------------------------

QString programName(int program, bool feelsound) {
  if (englishDialogTexts())
    return feelsound ? QString::fromStdString(feelsoundProgramName(program))
                     : QString::fromUtf8(gmProgramName(program));
#ifdef VLM_HAVE_VOICE_NAMES
  const char* n = feelsound ? dxmVoiceName(program) : mldVoiceName(program);
  if (n && *n) return fromSjis(n);
#else
  (void)feelsound;
#endif
  return QString::fromUtf8(gmProgramName(program));
}

class VoicesDialog : public PlayingDialog {
 public:
  VoicesDialog(std::vector<Control> t, QWidget* parent)
      : PlayingDialog(DLG_VOICES, "音色の指定", std::move(t), parent) {}

 protected:
  void init() override {
    for (int ch = 0; ch < 16; ++ch) {
      const ChannelStats& s = songStats.ch[ch];
      songProgram_[ch] = s.programUse != PROGRAM_NONE ? (s.program & 0x7F) : -1;
      setValue(103 + ch,
               options.programOverride[ch] >= 0 ? options.programOverride[ch] : songProgram_[ch]);
      keep_[ch] = options.programOverride[ch] < 0;
      setTextOf(303 + ch, s.programUse == PROGRAM_MIXED ? QStringLiteral("*") : QString());
      enable(103 + ch, channelIsMelodic(ch));
    }
    setValue(101, -1);
    fillList();
    if (auto* list = qobject_cast<QListWidget*>(control(501)))
      connect(list, &QListWidget::itemClicked, this, [this, list] {
        const int program = list->currentRow();
        if (program >= 0 && focused_ >= 0 && isEnabledId(103 + focused_))
          setValue(103 + focused_, program);
      });
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
      for (int ch = 0; ch < 16; ++ch)
        if (now && now == control(103 + ch)) focused_ = ch;
    });
  }

  void playingCommand(int id) override {
    if (id == 601) fillList();
    if (id == RESET)
      for (int ch = 0; ch < 16; ++ch) {
        setValue(103 + ch, songProgram_[ch]);
        keep_[ch] = true;
      }
  }

  void valueChanged(int id) override {
    if (id == 101 && value(101) >= 0)
      for (int ch = 0; ch < 16; ++ch)
        if (isEnabledId(103 + ch)) setValue(103 + ch, value(101));
  }

  void store() override {
    for (int ch = 0; ch < 16; ++ch) {
      const int v = value(103 + ch);
      // The song's own program on a kept channel stays "keep", so that its program changes
      // during the song survive.
      if (v < 0 || (keep_[ch] && v == songProgram_[ch])) {
        options.programOverride[ch] = -1;
      } else {
        options.programOverride[ch] = v;
        keep_[ch] = false;
      }
    }
  }

 private:
  void fillList() {
    auto* list = qobject_cast<QListWidget*>(control(501));
    if (!list) return;
    const int row = list->currentRow();
    list->clear();
    for (int p = 0; p < 128; ++p)
      list->addItem(QStringLiteral("%1(%2)").arg(programName(p, checked(601))).arg(p));
    list->setCurrentRow(row);
  }

  int songProgram_[16] = {};
  bool keep_[16] = {};
  int focused_ = -1;
};

std::vector<Control> voicesTable() {
  std::vector<Control> t;
  for (int ch = 0; ch < 16; ++ch) {
    const int row = ch % 8, col = ch < 8 ? 0 : 2;
    Control c =
        edit(103 + ch, CHANNEL_LABELS[ch], row, col, 0, 127, Step::Linear, 1, 8, nullptr, nullptr);
    c.emptyNone = true;
    t.push_back(c);
    t.push_back(staticText(303 + ch, "", row, col + 1));
  }
  Control all = edit(101, "一括変更", 8, 0, 0, 127, Step::Linear, 1, 8, nullptr, nullptr);
  all.emptyNone = true;
  t.push_back(all);
  t.push_back(caption("(* 途中で音色変更あり)", 8, 2, 2));
  Control list;
  list.id = 501;
  list.kind = Kind::List;
  list.row = 0;
  list.col = 4;
  list.rowSpan = 9;
  t.push_back(list);
  t.push_back(check(
      601, "feelsound音色名", 9, 4, [] { return int(dialogValues.feelsoundNames); },
      [](int v) { dialogValues.feelsoundNames = v != 0; }));
  t.push_back(check(
      602, "音色ﾃﾞｰﾀ出力", 10, 4, [] { return int(dialogValues.voiceDataOutput); },
      [](int v) { dialogValues.voiceDataOutput = v != 0; }));
  t.push_back(button(RESET, "ﾘｾｯﾄ", 10, 0));
  t.push_back(button(APPLY, "適用", 10, 1));
  return t;
}

// ---- Octave ---------------------------------------------------------------------------------

class OctaveDialog : public PlayingDialog {
 public:
  OctaveDialog(std::vector<Control> t, QWidget* parent)
      : PlayingDialog(DLG_OCTAVE, "オクターブの指定", std::move(t), parent) {}

 protected:
  void init() override {
    for (int ch = 0; ch < 16; ++ch) {
      setValue(201 + ch, std::clamp(options.octaveShift[ch], -3, 3));
      enable(201 + ch, channelIsMelodic(ch));
    }
    refresh();
  }
  void playingCommand(int id) override {
    if (id == RESET)
      for (int ch = 0; ch < 16; ++ch) setValue(201 + ch, 0);
    refresh();
  }
  void valueChanged(int) override { refresh(); }
  void store() override {
    for (int ch = 0; ch < 16; ++ch) options.octaveShift[ch] = value(201 + ch);
  }

 private:
  void refresh() {
    for (int ch = 0; ch < 16; ++ch) {
      const ChannelStats& s = songStats.ch[ch];
      QString t;
      if (s.notes > 0 && channelIsMelodic(ch)) {
        const int shift = 12 * value(201 + ch);
        t = rangeText(std::clamp(s.lowNote + shift, 0, 127),
                      std::clamp(s.highNote + shift, 0, 127));
      }
      setTextOf(301 + ch, t);
    }
  }
};

std::vector<Control> octaveTable() {
  std::vector<Control> t;
  for (int ch = 0; ch < 16; ++ch) {
    Control bar;
    bar.id = 201 + ch;
    bar.kind = Kind::HBar;
    bar.label = CHANNEL_LABELS[ch];
    bar.row = ch;
    bar.col = 0;
    bar.min = -3;
    bar.max = 3;
    t.push_back(bar);
    t.push_back(staticText(301 + ch, "", ch, 1));
  }
  t.push_back(button(RESET, "ﾘｾｯﾄ", 16, 0));
  t.push_back(button(APPLY, "適用", 16, 1));
  return t;
}

// ---- Drums ----------------------------------------------------------------------------------

constexpr int DRUM_BOXES = 64;
constexpr int DRUM_LOW = 24, DRUM_HIGH = 87;

// The check box of a rhythm note: 601 holds every note up to 24, 664 every note from 87.
int drumBox(int note) {
  return 601 + std::clamp(note, DRUM_LOW, DRUM_HIGH) - DRUM_LOW;
}

bool rhythmNotePresent(int note) {
  return (songStats.rhythmNoteSet[note >> 3] >> (note & 7) & 1) != 0;
}

QString drumLabel(int note) {
  if (englishDialogTexts()) return QString::fromUtf8(gmDrumName(note));
#ifdef VLM_HAVE_VOICE_NAMES
  const char* n = drumName(note);
  if (n && *n) return fromSjis(n);
#endif
  return QString();
}

class DrumsDialog : public PlayingDialog {
 public:
  DrumsDialog(std::vector<Control> t, QWidget* parent)
      : PlayingDialog(DLG_DRUMS, "ドラム選択", std::move(t), parent) {}

 protected:
  void init() override {
    bool present[DRUM_BOXES] = {};
    for (int note = 0; note < 128; ++note)
      if (rhythmNotePresent(note)) present[drumBox(note) - 601] = true;
    for (int i = 0; i < DRUM_BOXES; ++i) {
      setChecked(601 + i, (dialogValues.rhythmKeep >> i) & 1);
      enable(601 + i, present[i]);
    }
    for (int s = 0; s < RHYTHM_SLOTS; ++s) setValue(101 + s, songStats.rhythmSlotNote[s]);
    if (auto* list = qobject_cast<QListWidget*>(control(501))) {
      list->clear();
      for (int note = 0; note < 128; ++note) {
        if (!rhythmNotePresent(note)) continue;
        auto* item = new QListWidgetItem(QStringLiteral("%1 %2 [%3]")
                                             .arg(note)
                                             .arg(drumLabel(note))
                                             .arg(songStats.rhythmNoteHits[note]),
                                         list);
        item->setData(Qt::UserRole, note);
      }
      connect(list, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        const int box = drumBox(item->data(Qt::UserRole).toInt());
        setChecked(box, !checked(box));
      });
    }
  }

  void playingCommand(int id) override {
    if (id == RESET) {
      for (int i = 0; i < DRUM_BOXES; ++i) setChecked(601 + i, true);
    } else if (id >= 601 && id < 601 + DRUM_BOXES &&
               (QApplication::keyboardModifiers() & Qt::ControlModifier)) {
      selectOnly(id);
    }
  }

  void store() override {
    uint64_t keep = 0;
    for (int i = 0; i < DRUM_BOXES; ++i)
      if (checked(601 + i)) keep |= uint64_t(1) << i;
    dialogValues.rhythmKeep = keep;
    for (int s = 0; s < RHYTHM_SLOTS; ++s) songStats.rhythmSlotNote[s] = uint8_t(value(101 + s));
    songStats.rhythmSlotCount = RHYTHM_SLOTS;
  }

 public:
  void selectOnly(int id) {
    for (int i = 0; i < DRUM_BOXES; ++i) setChecked(601 + i, 601 + i == id);
  }
};

std::vector<Control> drumsTable() {
  static const std::vector<std::string> labels = [] {
    std::vector<std::string> l;
    l.push_back("～24");
    for (int n = 25; n <= 86; ++n) l.push_back(std::to_string(n));
    l.push_back("87～");
    return l;
  }();
  std::vector<Control> t;
  constexpr int COLUMNS = 8;
  for (int i = 0; i < DRUM_BOXES; ++i)
    t.push_back(
        check(601 + i, labels[size_t(i)].c_str(), i / COLUMNS, i % COLUMNS, nullptr, nullptr));
  static const char* const slotNames[RHYTHM_SLOTS] = {"A", "B", "C", "D", "E", "F", "G", "H"};
  // Each slot spans the two check-box columns above it, so that it widens neither of them.
  for (int s = 0; s < RHYTHM_SLOTS; ++s) {
    Control slot = edit(101 + s, slotNames[s], 8 + s / 4, (s % 4) * 2, 0, 127, Step::Linear, 1,
                        12, nullptr, nullptr);
    slot.span = 2;
    t.push_back(slot);
  }
  Control list;
  list.id = 501;
  list.kind = Kind::List;
  list.row = 0;
  list.col = COLUMNS;
  list.rowSpan = 8;
  t.push_back(list);
  t.push_back(caption("( [数値] はドラム音符数)", 8, COLUMNS));
  t.push_back(button(RESET, "ﾘｾｯﾄ", 10, 0, 2));
  t.push_back(button(APPLY, "適用", 10, 2, 2));
  return t;
}

// ---- Channels -------------------------------------------------------------------------------

class ChannelsDialog : public PlayingDialog {
 public:
  ChannelsDialog(std::vector<Control> t, QWidget* parent)
      : PlayingDialog(DLG_CHANNELS, "チャンネル＆和音数圧縮設定", std::move(t), parent) {}

 protected:
  void init() override {
    for (int i = 0; i < 16; ++i) {
      setValue(101 + i, options.channelPriority[i]);
      setValue(121 + i, options.channelMaxVoices[i]);
    }
    setValue(118, options.uncompressedChannels[0]);
    setValue(120, options.uncompressedChannels[1]);
  }

  void playingCommand(int id) override {
    if (id >= 411 && id <= 425) {
      const int i = id - 411;  // rows i and i + 1
      if (QApplication::keyboardModifiers() & Qt::ControlModifier)
        rotate(i);
      else
        swapRows(i, i + 1);
      return;
    }
    switch (id) {
      case 601:
        if (!checked(601)) setChecked(602, false);
        break;
      case 602:
        if (checked(602)) setChecked(601, true);
        break;
      case RESET:
        for (int i = 0; i < 16; ++i) {
          setValue(101 + i, i + 1);
          setValue(121 + i, 0);
        }
        setValue(118, 0);
        setValue(120, 0);
        break;
    }
  }

  void store() override {
    for (int i = 0; i < 16; ++i) {
      options.channelPriority[i] = uint8_t(value(101 + i));
      options.channelMaxVoices[i] = uint8_t(value(121 + i));
    }
    options.uncompressedChannels[0] = uint8_t(value(118));
    options.uncompressedChannels[1] = uint8_t(value(120));
  }

 public:
  void swapRows(int a, int b) {
    const int va = value(101 + a);
    setValue(101 + a, value(101 + b));
    setValue(101 + b, va);
  }
  // Ctrl with a swap button: every row from the upper one of the pair down takes the value of
  // the row below it, and the last row takes the upper one's.
  void rotate(int from) {
    const int first = value(101 + from);
    for (int i = from; i < 15; ++i) setValue(101 + i, value(101 + i + 1));
    setValue(116, first);
  }
};

std::vector<Control> channelsTable() {
  std::vector<Control> t = {
      caption("チャンネル入替", 0, 0, 2),
      caption("チャンネル最大和音数(0 指定せず)", 0, 2),
  };
  for (int i = 0; i < 16; ++i) {
    Control map =
        edit(101 + i, CHANNEL_LABELS[i], 1 + i, 0, 1, 16, Step::Linear, 1, 4, nullptr, nullptr);
    t.push_back(map);
    if (i < 15) t.push_back(button(411 + i, "⇔", 1 + i, 1));
    t.push_back(edit(121 + i, "", 1 + i, 2, 0, 64, Step::Linear, 1, 4, nullptr, nullptr));
  }
  t.push_back(check(601, "和音数圧縮する(3和音/FM音源/feel12和音)", 1, 3, OPT(waoncompress)));
  t.push_back(check(602, "同じ音色のチャンネルを結合する(feel12和音)", 2, 3, OPT(dxmmldmix)));
  t.push_back(edit(117, "優先ﾄﾞﾗﾑﾁｬﾝﾈﾙ数", 3, 3, 0, 16, Step::Linear, 1, 4, OPT(rzmchn)));
  t.push_back(caption("圧縮無しﾁｬﾝﾈﾙ", 4, 3));
  t.push_back(edit(118, "", 5, 3, 0, 16, Step::Linear, 1, 4, nullptr, nullptr));
  t.push_back(edit(120, "", 6, 3, 0, 16, Step::Linear, 1, 4, nullptr, nullptr));
  Control level = edit(119, "割込みﾚﾍﾞﾙ", 7, 3, 0, 64, Step::Doubling, 0, 64, OPT(wcomplevel));
  t.push_back(level);
  t.push_back(button(RESET, "ﾘｾｯﾄ", 15, 3));
  t.push_back(button(APPLY, "適用", 16, 3));
  return t;
}

#undef OPT

}  // namespace

QString volumeRangeText(int channel, bool velocity, int globalPercent, int channelPercent) {
  int lo, hi;
  if (channel >= 16) {
    if (songStats.highVelocity == 0) return QString();
    lo = songStats.lowVelocity;
    hi = songStats.highVelocity;
  } else {
    const ChannelStats& s = songStats.ch[channel];
    if (s.notes == 0) return QString();
    if (velocity) {
      if (s.highVelocity == 0) return QString();
      lo = s.lowVelocity;
      hi = s.highVelocity;
    } else if (s.lowVolume == 0xFF) {
      lo = hi = 100;  // no volume controller seen: the default volume
    } else {
      lo = s.lowVolume;
      hi = s.highVolume;
    }
  }
  return rangeText(scaled(lo, globalPercent, channelPercent),
                   scaled(hi, globalPercent, channelPercent));
}

TableDialog* makeVolumeDialog(QWidget* parent) {
  return new VolumeDialog(volumeTable(), parent);
}
TableDialog* makeRangeDialog(QWidget* parent) {
  return new RangeDialog(rangeTable(), parent);
}
TableDialog* makeVoicesDialog(QWidget* parent) {
  return new VoicesDialog(voicesTable(), parent);
}
TableDialog* makeOctaveDialog(QWidget* parent) {
  return new OctaveDialog(octaveTable(), parent);
}
TableDialog* makeDrumsDialog(QWidget* parent) {
  return new DrumsDialog(drumsTable(), parent);
}
TableDialog* makeChannelsDialog(QWidget* parent) {
  return new ChannelsDialog(channelsTable(), parent);
}

}  // namespace vlm::dialogs
