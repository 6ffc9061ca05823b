// The target presets: each output's row of the format table holds what its handset offers and
// which corrections the run makes once the song is read; this file applies them.
#include <algorithm>

#include "convert/conversion_run.h"
#include "core/vstream.h"

namespace vlm {

namespace {

// The handset that playback and MIDI output imitate, by `midmono`.
FormatCode imitatedOutput(int midmono) {
  switch (midmono) {
    case 1:
    case 2:
      return FORMAT_MLD;
    case 3:
      return FORMAT_MLD_4;
    case 4:
      return FORMAT_MLD_3;
    case 5:
      return FORMAT_DXM;
    default:
      return FORMAT_SMF;
  }
}

// The handset's preset from its row, with the timebase of its settings value.
void setHandset(TargetPreset& p, const OutputFormat& format) {
  p = format.preset;
  if (format.timebaseKey) p.targetTimebase = uint16_t(options.*format.timebaseKey);
  p.ezwebTarget = format.traits & OUT_EZWEB;
  if (format.runFixes & FIX_PMD_TRACKS) p.fourChannelTracks = !options.pmdfmt0;
}

// The effects a MIDI file keeps of the handset it imitates (`midmono`).
void fixImitatedHandset(ConversionOptions& o) {
  switch (o.midmono) {
    case 1:
    case 2:
      o.real &= 0x7A;
      break;
    case 3:
      o.volctlflg = false;
      o.rzmchn = 0;
      o.real &= 0x20;
      break;
    case 4:
      o.rzmchn = 0;
      o.real = 0;
      break;
    case 5:
      o.gsmode = false;
      o.real &= 0x3E;
      break;
    default:
      break;
  }
}

// The highest note that polyphony compression uses on 4-voice targets, from the song.
uint8_t topNoteFromSong() {
  int top = 72;
  for (int ch = 0; ch < CHANNELS; ++ch) {
    const uint16_t bit = uint16_t(1u << ch);
    if (!(songStats.melodicMask & bit) || !(options.channelMask & bit)) continue;
    if (options.uncompressedChannels[0] == ch + 1 || options.uncompressedChannels[1] == ch + 1)
      continue;
    if (songStats.ch[ch].notes == 0) continue;
    top =
        std::max(top, songStats.ch[ch].highNote + options.keyShift + 12 * options.octaveShift[ch]);
  }
  top = std::min((top + 11) / 12 * 12, 108);
  top = std::clamp(top, 72, 107);
  const TargetPreset& p = options.preset;
  return uint8_t(top <= p.highestNote ? top : p.highestNote);
}

bool drumBankNeeded() {
  if (songStats.melodicMask == 0xFFFF) return true;
  return songStats.bankMask != 0;
}

}  // namespace

void applyOutputPreset(FormatCode code) {
  TargetPreset& p = options.preset;
  p = TargetPreset();
  // -3, -4 and unknown codes keep the defaults.
  FormatCode c = code == FORMAT_SMF ? imitatedOutput(options.midmono) : code;
  if (const OutputFormat* format = findOutputFormat(c)) setHandset(p, *format);
  if (options.maxwnocut != 0)
    p.polyphony = uint8_t(std::min(options.maxwnocut, p.oneVoicePerChannel ? 16 : 64));
  if (runState.forPlayback) {
    p.targetTimebase = 0;
    p.fixedTempoValue = 0;
    p.maxTimebase = 65535;
    p.maxTempo = 65535;
    p.fixedTempo = false;
  } else if (options.chgtime) {
    p.fixedTempo = true;
  }
}

void adjustForRun(FormatCode c) {
  TargetPreset& p = options.preset;
  ConversionOptions& o = options;
  const OutputFormat* format = findOutputFormat(c);
  const uint32_t fixes = format ? format->runFixes : 0;
  if (fixes & FIX_IMITATED_HANDSET) fixImitatedHandset(o);
  if (fixes & FIX_TIMEBASE_24) {
    p.timebaseDivisor = uint16_t(p.targetTimebase / 24);
    p.targetTimebase = 24;
  }
  if (fixes & FIX_NO_BEND_RANGE) o.real &= ~REAL_BEND_RANGE;
  if (fixes & FIX_NOTE_TYPE) p.noteType = o.mldnote;
  if (fixes & FIX_SHORT_NOTES) p.noteType = false;
  if (fixes & FIX_FM_HANDSET) {
    o.fmphoneid = p.familyCode;  // kept after the run: the last FM conversion's family
    if (songStats.hasVoiceSamples && o.voiceOutput) {
      p.fixedTempo = true;
      p.targetTimebase = 120;
      p.fixedTempoValue = 125;
    }
  }
  if ((fixes & FIX_DRUM_BANK) && drumBankNeeded()) o.drambankflg = true;
  if ((fixes & FIX_DRUM_BANK_ALL_MELODIC) && songStats.melodicMask == 0xFFFF) o.drambankflg = true;
  if (fixes & FIX_NO_DRUM_PRIORITY) o.rzmchn = 0;
  if (fixes & FIX_NO_VOLUME_CHANGES) o.volctlflg = false;
  if (fixes & FIX_NO_HIGH_QUALITY) o.mmf4op = false;
  if ((fixes & FIX_MASTER_VOLUME) && o.mastervol == 0 && songStats.masterVolumeMax == 0)
    o.mastervol = 100;
  if (fixes & FIX_PMD_TRACKS) p.fourChannelTracks = !o.pmdfmt0;
  if (o.waoncompress && p.topNoteFromSong) p.topNote = topNoteFromSong();
  if (!runState.forPlayback) {
    const bool ezPmd = (fixes & FIX_KEEP_TEMPO_FIXES) && p.ezwebTarget && p.noteType;
    if (!ezPmd) o.pmdtmpc4s = o.pmdtopplus = false;
    if (fixes & FIX_NO_DRUM_BANK) o.drambankflg = false;
  } else if (!o.gsmode) {
    o.drambankflg = false;
  }
}

}  // namespace vlm
